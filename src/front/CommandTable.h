// The command table of vornctl: every command's row, in help order.
//
// buildCommandTable maps each exact command word (case-sensitive, with its
// leading dashes) to its function; the two words of a legacy row such as
// "-p, --start-smtpd" map to the same function. A word that is not in the
// table is an invalid command. The help outputs, the man page and the
// completion print the rows in table order.
#ifndef KORVO_FRONT_COMMANDTABLE_H
#define KORVO_FRONT_COMMANDTABLE_H

#include "front/CommandRow.h"

#include <cstddef>
#include <map>
#include <string>
#include <vector>

namespace korvo::mail::postfix::vornctl_commands {

extern const CommandDescription commandDescriptions[];
extern const std::size_t commandDescriptionCount;

// The words of a row's name: "-p, --start-smtpd" gives "-p" and
// "--start-smtpd".
std::vector<std::string> commandWords(const std::string& name);

using CommandMap = std::map<std::string, CommandHandler>;
CommandMap buildCommandTable();

} // namespace korvo::mail::postfix::vornctl_commands

#endif
