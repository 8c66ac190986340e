#include "mail/storage/MaildirSizeSeams.h"

#include <unistd.h>

namespace korvo::mail::seam {

__attribute__((weak)) void maildirsizeRetrySleep(unsigned int seconds) {
    ::sleep(seconds);
}

__attribute__((weak)) void maildirsizeAfterCount(int) {}

__attribute__((weak)) void maildirUsageBeforeStat(int, const char*) {}

} // namespace korvo::mail::seam
