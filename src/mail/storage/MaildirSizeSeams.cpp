// The library's own definitions of the maildirsize seams: the real sleep
// and two empty hooks, all weak symbols. The linker keeps a weak definition
// only when no object file of the program brings a strong one of the same
// name; MaildirSizeTest.cpp defines all three (plain, strong functions), so
// its program runs the test's versions and every other program, the tool
// included, runs these. See MaildirSizeSeams.h for what each seam is for.
#include "mail/storage/MaildirSizeSeams.h"

#include <unistd.h>

namespace korvo::mail::seam {

__attribute__((weak)) void maildirsizeRetrySleep(unsigned int seconds) {
    ::sleep(seconds);
}

__attribute__((weak)) void maildirsizeAfterCount(int) {}

__attribute__((weak)) void maildirUsageBeforeStat(int, const char*) {}

} // namespace korvo::mail::seam
