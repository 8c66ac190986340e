// The service types a master.cf entry may name.
//
// The numeric values of the first three are fixed; unix-dgram and pass are
// the later additions that current Postfix installs carry. moduleTypeWord
// gives the word master.cf uses; it never fails for a valid enumerator.
#ifndef KORVO_POSTFIX_MODULETYPE_H
#define KORVO_POSTFIX_MODULETYPE_H

namespace korvo::mail::postfix {

enum class ModuleType { INET = 0, UNIX = 1, FIFO = 2, UNIX_DGRAM = 3, PASS = 4 };

// "inet", "unix", "fifo", "unix-dgram" or "pass".
const char* moduleTypeWord(ModuleType type);

} // namespace korvo::mail::postfix

#endif
