// Server-wide mail settings commands: the feature report, the maximum
// message size, the mailbox size limit, relaying and POP-before-SMTP, SPF,
// the accounts format, RBL zones, trusted networks and black-listed sender
// domains.
//
// Each handler parses its options, checks every name it takes (see
// NameChecks.h), calls the settings, main.cf and service managers and
// returns the exit status. Manager failures propagate to main ("Fatal
// error", status 1); option errors end the process inside the option
// helper. --features, --get-max-letter-size and --get-mailbox-size-limit
// take no options and ignore their arguments.
#ifndef KORVO_FRONT_SETTINGSCOMMANDS_H
#define KORVO_FRONT_SETTINGSCOMMANDS_H

#include "front/CommandRow.h"

namespace korvo::mail::postfix::vornctl_commands {

// The rows of this family's commands, for the command table.
extern const CommandDescription addBadmailfromCommand;
extern const CommandDescription removeBadmailfromCommand;
extern const CommandDescription addWhitelistCommand;
extern const CommandDescription removeWhitelistCommand;
extern const CommandDescription setMapsProtectionCommand;
extern const CommandDescription setAccountsFormatCommand;
extern const CommandDescription featuresCommand;
extern const CommandDescription setMaxLetterSizeCommand;
extern const CommandDescription getMaxLetterSizeCommand;
extern const CommandDescription getMailboxSizeLimitCommand;
extern const CommandDescription updateSpfCommand;
extern const CommandDescription setMailParamsCommand;

} // namespace korvo::mail::postfix::vornctl_commands

#endif
