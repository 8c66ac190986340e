// One command of vornctl as one row: the word or words that call it, the
// function that runs it, its syntax and its help text. Each command family
// defines its rows next to its functions; the command table lists them in
// help order and everything that names commands reads them from there:
// dispatch, the help outputs, the man page and the completion.
//
// Rows are constants; nothing here can fail.
#ifndef KORVO_FRONT_COMMANDROW_H
#define KORVO_FRONT_COMMANDROW_H

#include <string>

namespace korvo::mail::postfix::vornctl_commands {

// A command function sees its own command word as argv[0] and returns the
// process exit status.
using CommandHandler = int (*)(int argc, char** argv);

struct CommandDescription {
    const char* name; // the exact word, or "-p, --start-smtpd" for a legacy pair
    CommandHandler handler;
    const char* syntax;      // the command's options, possibly empty
    const char* description; // may hold line breaks followed by eight blanks
};

// "WORD SYNTAX", the usage line of a command whose own help shows the
// row's syntax.
inline std::string usageSyntax(const CommandDescription& row) {
    return std::string(row.name) + ' ' + row.syntax;
}

} // namespace korvo::mail::postfix::vornctl_commands

#endif
