// Reading parsed option values in the command handlers.
//
// After standardOptionsParse every mandatory option is present; these read
// one value by its long name. Asking for an absent option or for the wrong
// type raises boost's bad_any_cast, a programming error that main reports.
#ifndef KORVO_FRONT_COMMANDOPTIONS_H
#define KORVO_FRONT_COMMANDOPTIONS_H

#include "front/ProgramOptionsHelper.h"

#include <string>

namespace korvo::mail::postfix::vornctl_commands {

inline const std::string& stringOption(const ProgramOptionsHelper& helper, const char* name) {
    return helper.variables[name].as<std::string>();
}

inline bool hasOption(const ProgramOptionsHelper& helper, const char* name) {
    return helper.variables.count(name) != 0;
}

} // namespace korvo::mail::postfix::vornctl_commands

#endif
