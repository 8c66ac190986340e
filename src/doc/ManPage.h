// vornctl(8), written from the command table.
//
// Every row of the table becomes one entry of the COMMANDS section: its
// word (or legacy words), its syntax and its description, in table order,
// so the page says exactly what --help-legacy says. Text is escaped for
// roff (backslashes, hyphens, leading dots). Only the stream's own errors
// can fail.
#ifndef KORVO_DOC_MANPAGE_H
#define KORVO_DOC_MANPAGE_H

#include "front/CommandRow.h"

#include <cstddef>
#include <ostream>
#include <string>

namespace korvo::doc {

using mail::postfix::vornctl_commands::CommandDescription;

// text made safe inside a roff line, with a break point after each "|".
std::string roffEscape(const std::string& text);

void writeManPage(std::ostream& out, const CommandDescription* commands, std::size_t count);

} // namespace korvo::doc

#endif
