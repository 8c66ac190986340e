// The bash completion of vornctl, written from the command table and from
// each command's own option declarations.
//
// The first word completes to every command word of the table (legacy rows
// give both their words); the words after it complete to the long options
// that command declares, "--name=" for options that take a value. The
// options are not a second list kept here: they come from the usage text
// the built tool prints for "vornctl COMMAND --help", which its option
// parser writes from the very declarations it parses with. Only commands
// whose table row has a syntax are asked; the others take no options and
// would not stop at --help.
//
// Failures: a command whose --help does not answer with its option list
// (status other than 0, no "Allowed options" section) is a
// CompletionError naming the command and what it printed; then nothing
// should be installed. Otherwise only the stream's own errors can fail.
#ifndef KORVO_DOC_COMPLETION_H
#define KORVO_DOC_COMPLETION_H

#include "front/CommandTable.h"

#include <cstddef>
#include <functional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

namespace korvo::doc {

using mail::postfix::vornctl_commands::CommandDescription;
using mail::postfix::vornctl_commands::commandWords;

class CompletionError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The long options of a usage text's "Allowed options" section, each once,
// in order: "--name=" when the option takes a value, "--name" for a switch.
// Empty when the text has no such section.
std::vector<std::string> usageOptions(const std::string& usage);

// What "vornctl WORD --help" printed: its exit status and standard output.
struct CommandHelp {
    int status = -1;
    std::string out;
};
using HelpRunner = std::function<CommandHelp(const std::string& word)>;

// Runs the built vornctl at path with WORD --help.
HelpRunner builtToolHelp(const std::string& path);

void writeBashCompletion(std::ostream& out, const CommandDescription* commands, std::size_t count,
                         const HelpRunner& help);

} // namespace korvo::doc

#endif
