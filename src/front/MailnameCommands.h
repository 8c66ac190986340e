// Mailname commands: create, remove and rename a mailname, switch its
// mailbox on and off, its password, quota and size, its redirects, mail
// aliases and autoresponder.
//
// Each handler parses its options and converts and checks the domain name,
// every mailname and mail alias name and every address before anything
// else; then it calls the mailname manager, the authentication database and
// the handler registry in a fixed order. Passwords come only from the
// environment (MailOptions.h).
//
// Exit statuses: 0; 1 when an authentication or panel database step fails
// (after what that step logged; later steps are skipped, earlier ones stay
// done) or when the domain aliases or mail aliases of a mailname cannot be
// listed ("ERROR: " line); --get-mailbox-size prints the size as bare
// digits; --set-autoresponder and --reset-autoresponder answer the
// autoresponder library's result (-1, seen as 255). A handler registry
// failure writes a "WARNING: " or "ERROR: " line and leaves the status.
// Manager failures reach main ("Fatal error", status 1).
#ifndef KORVO_FRONT_MAILNAMECOMMANDS_H
#define KORVO_FRONT_MAILNAMECOMMANDS_H

#include "front/CommandRow.h"

namespace korvo::mail::postfix::vornctl_commands {

// The rows of this family's commands, for the command table.
extern const CommandDescription addMailnameCommand;
extern const CommandDescription removeMailnameCommand;
extern const CommandDescription renameMailnameCommand;
extern const CommandDescription addMailboxCommand;
extern const CommandDescription removeMailboxCommand;
extern const CommandDescription getMailboxSizeCommand;
extern const CommandDescription setPasswordCommand;
extern const CommandDescription setMailboxDiskQuotaCommand;
extern const CommandDescription addRedirectCommand;
extern const CommandDescription removeRedirectCommand;
extern const CommandDescription setAutoresponderCommand;
extern const CommandDescription resetAutoresponderCommand;
extern const CommandDescription addAliasCommand;
extern const CommandDescription removeAliasCommand;

} // namespace korvo::mail::postfix::vornctl_commands

#endif
