// Service commands: start, stop, restart, reload and status of the Postfix
// MTA, its SMTP, SMTPS and submission listeners and the Courier-IMAP
// daemons, and the older fixed-shortcut words (-p, -o, ... -a, -b).
//
// Starting or stopping a listener adds or enables, respectively disables,
// its master.cf entry; Postfix is reloaded when master.cf changed while it
// runs. Whether submission may run is the panel's decision: its setting
// "message_submission" wins over --start-service and --stop-service (the
// panel database must be reachable for that component). Courier-IMAP is
// one init script for all four of its components.
//
// Exit statuses: 0 when every step succeeded, 1 when one failed (the other
// steps still run); an exception from the Postfix start, stop, restart or
// reload of a set command is reported and gives 1, while master.cf and
// panel database failures end the run through main. The legacy words take
// no options and ignore their arguments.
#ifndef KORVO_FRONT_SERVICECOMMANDS_H
#define KORVO_FRONT_SERVICECOMMANDS_H

#include "front/CommandRow.h"

namespace korvo::mail::postfix::vornctl_commands {

// The rows of this family's commands, for the command table.
extern const CommandDescription startServiceCommand;
extern const CommandDescription stopServiceCommand;
extern const CommandDescription restartServiceCommand;
extern const CommandDescription reloadServiceCommand;
extern const CommandDescription statusServiceCommand;
extern const CommandDescription startSmtpdCommand;
extern const CommandDescription stopSmtpdCommand;
extern const CommandDescription restartSmtpdCommand;
extern const CommandDescription statusSmtpdCommand;
extern const CommandDescription startQmailSendCommand;
extern const CommandDescription stopQmailSendCommand;
extern const CommandDescription startMaildCommand;
extern const CommandDescription stopMaildCommand;
extern const CommandDescription restartMaildCommand;
extern const CommandDescription statusMaildCommand;
extern const CommandDescription enableMessageSubmissionCommand;
extern const CommandDescription disableMessageSubmissionCommand;

} // namespace korvo::mail::postfix::vornctl_commands

#endif
