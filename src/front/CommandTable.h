// The command words of vornctl: which handler runs for each, and the help
// text of every command.
//
// buildCommandTable maps each exact command word (case-sensitive, with its
// leading dashes) to its handler; legacy words such as -p and --start-smtpd
// map to the same handler. A word that is not in the table is an invalid
// command. commandDescriptions is what the help outputs print, one row per
// command in help order; dispatch never reads it.
#ifndef KORVO_FRONT_COMMANDTABLE_H
#define KORVO_FRONT_COMMANDTABLE_H

#include <cstddef>
#include <map>
#include <string>

namespace korvo::mail::postfix::vornctl_commands {

// A command handler sees its own command word as argv[0] and returns the
// process exit status.
using CommandHandler = int (*)(int argc, char** argv);
using CommandMap = std::map<std::string, CommandHandler>;

// Fills a command map in one chained expression; a later name replaces an
// earlier one.
class CommandMapAssigner {
public:
    explicit CommandMapAssigner(CommandMap& map) : map_(map) {}
    CommandMapAssigner& operator()(const std::string& name, CommandHandler handler) {
        map_[name] = handler;
        return *this;
    }

private:
    CommandMap& map_;
};

CommandMap buildCommandTable();

struct CommandDescription {
    const char* name;        // as shown in help, "-p, --start-smtpd" for legacy rows
    const char* syntax;      // the command's options, possibly empty
    const char* description; // may hold line breaks followed by eight blanks
};

extern const CommandDescription commandDescriptions[];
extern const std::size_t commandDescriptionCount;

} // namespace korvo::mail::postfix::vornctl_commands

#endif
