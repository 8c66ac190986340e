// Option values of the domain, mailname and domain-alias commands: domain
// names, mailnames and addresses read through their name checks, and the
// mailbox password the panel leaves in the environment.
//
// Every reader converts and checks its value before the handler reads or
// changes anything else: a refused value throws std::invalid_argument (see
// NameChecks.h), an IDNA failure korvo::idn::IdnaError; both reach main,
// which reports "Fatal error: " and exits with 1. Reading an option the
// command did not declare, or one absent from the command line, throws
// boost's bad_any_cast.
//
// Use, after standardOptionsParse:
//     const std::string domain = domainOption(helper, "domain-name");
//     const std::string mailname = mailNameOption(helper, "mailname");
//     const EnvPassword password = envPassword(helper);
#ifndef KORVO_FRONT_MAILOPTIONS_H
#define KORVO_FRONT_MAILOPTIONS_H

#include "front/ProgramOptionsHelper.h"

#include <string>

namespace korvo::mail::postfix::vornctl_commands {

// How the panel hands a mailbox password over; the tail of the help texts
// of the commands that take one (the macro for literals of the command
// table, the array for the commands' own help).
#define PASSWORD_HELP_LINES                                                                        \
    "\n        The noncrypted password is transferred in the environment variable ORQ_PASSWORD,"   \
    "\n        or crypted password is transferred in the environment variable "                    \
    "ORQ_CRYPTED_PASSWORD"
extern const char passwordHelpLines[];

// The option's value converted to its ASCII (IDNA) form and checked as a
// domain name.
std::string domainOption(const ProgramOptionsHelper& helper, const char* name);
// The option's value with its domain converted to ASCII, checked as an
// address mail is sent on to (a redirect, a catch-all).
std::string addressOption(const ProgramOptionsHelper& helper, const char* name);
// The option's value as given, checked as a mail name.
std::string mailNameOption(const ProgramOptionsHelper& helper, const char* name);
// The option's value as given, checked only as one safe path component: a
// removal must reach a mailname that older rules let in.
std::string removalNameOption(const ProgramOptionsHelper& helper, const char* name);

// Declares the mandatory domain-name option alone, parses, and returns the
// domain in its checked ASCII form.
std::string parseDomainName(ProgramOptionsHelper& helper, int argc, char** argv);

// The password from ORQ_PASSWORD or ORQ_CRYPTED_PASSWORD (taken out of the
// environment), with the flags of the authentication functions: Crypted
// when it came crypted, DomainDisabled when the command line holds the
// switch mail-domain-disabled.
struct EnvPassword {
    const char* password = nullptr; // null when neither variable held one
    int flags = 0;

    bool given() const { return password != nullptr && *password != '\0'; }
};
EnvPassword envPassword(const ProgramOptionsHelper& helper);

} // namespace korvo::mail::postfix::vornctl_commands

#endif
