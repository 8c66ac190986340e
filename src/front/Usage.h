// The three program-level help outputs. Each writes its text to the given
// stream and ends the process with exit(status); none returns.
#ifndef KORVO_FRONT_USAGE_H
#define KORVO_FRONT_USAGE_H

#include "front/CommandRow.h"

#include <cstddef>
#include <iostream>

namespace korvo::mail::postfix::vornctl_commands {

// Four lines: how to call vornctl and where to find more help.
[[noreturn]] void usageShort(int status, std::ostream& out);
// Every command name of the rows with its description, descriptions in one
// column.
[[noreturn]] void usageCommands(int status, std::ostream& out, const CommandDescription* rows,
                                std::size_t count);
// Every command of the rows with its syntax, and its description on the
// next line.
[[noreturn]] void usageLegacy(int status, std::ostream& out, const CommandDescription* rows,
                              std::size_t count);

} // namespace korvo::mail::postfix::vornctl_commands

#endif
