// The bash completion of vornctl, written from the command table.
//
// The first word completes to every command word of the table (legacy rows
// give both their words); the words after it complete to the options named
// in that command's syntax text, "--name=" for options that take a value.
// Only the stream's own errors can fail.
#ifndef KORVO_DOC_COMPLETION_H
#define KORVO_DOC_COMPLETION_H

#include "front/CommandTable.h"

#include <cstddef>
#include <ostream>
#include <string>
#include <vector>

namespace korvo::doc {

using mail::postfix::vornctl_commands::CommandDescription;

// The words of a table name: "-p, --start-smtpd" gives "-p" and
// "--start-smtpd".
std::vector<std::string> commandWords(const std::string& name);

// The options a syntax text names, each once, in order of appearance.
std::vector<std::string> syntaxOptions(const std::string& syntax);

void writeBashCompletion(std::ostream& out, const CommandDescription* commands, std::size_t count);

} // namespace korvo::doc

#endif
