// How vornctl calls Postfix: the exact command lines of postmap, postconf
// and the Postfix init script, and how their results are judged.
//
// Every call is a direct exec (no shell) of a fixed path with the arguments
// built here, in this order; the table, main.cf and service layers take
// their command lines from this file only. The functions return the
// process description for a one-process Pipe (or, for the init script, the
// argument vector and environment for a ProcessLaunch); the callers choose
// the standard streams.
//
// Diagnostics of these programs arrive on standard error, one per line:
// "program: severity: text". runCollectingErrors gathers that text; the
// callers raise it as the message of their PostfixError subclass, or
// "unknown error" when a program exited non-zero without a word
// (errorMessage); a program killed by a signal is named with the signal.
// checkOutput (DatabaseHelper.h) tells error lines from warnings.
#ifndef KORVO_POSTFIX_POSTFIXUTILITIES_H
#define KORVO_POSTFIX_POSTFIXUTILITIES_H

#include "process/Parameters.h"
#include "process/ProcessFlags.h"

#include <string>
#include <vector>

namespace korvo::process {
class Pipe;
}

namespace korvo::mail::postfix {

namespace utilities {

using ProcessParameters = process::Parameters<process::PipeProcessFlags>;

inline constexpr char POSTMAP[] = "/usr/sbin/postmap";
inline constexpr char POSTCONF[] = "/usr/sbin/postconf";
inline constexpr char POSTFIX_INIT_SCRIPT[] = "/etc/init.d/postfix";
// The init script's whole environment; it sets its own PATH.
extern const char* const INIT_SCRIPT_ENVIRONMENT[];

// "postmap -r -i TABLE": stores the record lines read on stdin; a present
// key takes the new value.
ProcessParameters postmapAdd(const std::string& table);
// "postmap -r TABLE": builds the database anew from the source file.
ProcessParameters postmapReplace(const std::string& table);
// "postmap TABLE": the same rebuild, as after a dump.
ProcessParameters postmapRebuild(const std::string& table);
// "postmap -d KEY TABLE": an absent key exits non-zero without a message.
ProcessParameters postmapDelete(const std::string& key, const std::string& table);
// "postmap -d - TABLE": deletes the keys read on stdin, one per line.
ProcessParameters postmapDeleteListed(const std::string& table);
// "postmap -s TABLE": every record on stdout as key, blank or tab, value.
ProcessParameters postmapDump(const std::string& table);
// "postmap -q KEY TABLE": the key's value on stdout; an absent key exits
// non-zero without a message.
ProcessParameters postmapQuery(const std::string& key, const std::string& table);

// "postconf -h NAME": the current value on stdout.
ProcessParameters postconfValue(const std::string& name);
// "postconf -n -h NAME": the value main.cf sets, nothing when it sets none.
ProcessParameters postconfConfigured(const std::string& name);
// "postconf -h -d NAME": the built-in default on stdout.
ProcessParameters postconfDefault(const std::string& name);
// "postconf -e NAME=VALUE" (one argument, the value may be empty).
ProcessParameters postconfSet(const std::string& name, const std::string& value);

// argv of "/etc/init.d/postfix VERB" (start, stop, restart, reload, status),
// to be run with INIT_SCRIPT_ENVIRONMENT and stdin from /dev/null.
std::vector<std::string> initScriptCommand(const std::string& verb);

// Runs pipe with its standard error collected into errors; returns the wait
// status of run(). A program killed by a signal adds the line "PROGRAM
// killed by signal N" (the program's file name) to errors. Launch failures
// propagate.
int runCollectingErrors(process::Pipe& pipe, std::string& errors);

// True when the wait status says: exited with code 0.
bool exitedSuccessfully(int waitStatus);

// The collected error text, or "unknown error" when there is none.
std::string errorMessage(const std::string& errors);

} // namespace utilities
} // namespace korvo::mail::postfix

#endif
