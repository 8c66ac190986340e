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

#include "front/CommandTable.h"

namespace korvo::mail::postfix::vornctl_commands {

int addMailname(int argc, char** argv);
int removeMailname(int argc, char** argv);
int renameMailname(int argc, char** argv);
int addMailbox(int argc, char** argv);
int removeMailbox(int argc, char** argv);
int getMailboxSize(int argc, char** argv);
int setPassword(int argc, char** argv);
int setMailboxDiskQuota(int argc, char** argv);
int addRedirect(int argc, char** argv);
int removeRedirect(int argc, char** argv);
int addAlias(int argc, char** argv);
int removeAlias(int argc, char** argv);
int addAutoresponder(int argc, char** argv);
int removeAutoresponder(int argc, char** argv);

// Adds the words of this family to the command table.
void registerMailnameCommands(CommandMapAssigner& assign);

} // namespace korvo::mail::postfix::vornctl_commands

#endif
