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

#include "front/CommandTable.h"

namespace korvo::mail::postfix::vornctl_commands {

int printFeatures(int argc, char** argv);
int getMaxLetterSize(int argc, char** argv);
int getMailboxLimit(int argc, char** argv);
int setMaxLetterSize(int argc, char** argv);
int setMailParams(int argc, char** argv);
int updateSPF(int argc, char** argv);
int setAccountsFormat(int argc, char** argv);
int setMapsProtection(int argc, char** argv);
int addWhiteList(int argc, char** argv);
int removeWhiteList(int argc, char** argv);
int addBadMailFrom(int argc, char** argv);
int removeBadMailFrom(int argc, char** argv);

// Adds the words of this family to the command table.
void registerSettingsCommands(CommandMapAssigner& assign);

} // namespace korvo::mail::postfix::vornctl_commands

#endif
