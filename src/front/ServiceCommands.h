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

#include "front/CommandTable.h"

namespace korvo::mail::postfix::vornctl_commands {

int startService(int argc, char** argv);
int stopService(int argc, char** argv);
int restartService(int argc, char** argv);
int reloadService(int argc, char** argv);
int statusService(int argc, char** argv);

int startSMTPD(int argc, char** argv);
int restartSMTPD(int argc, char** argv);
int stopSMTPD(int argc, char** argv);
int statusMTA(int argc, char** argv);
int startMTA(int argc, char** argv);
int stopMTA(int argc, char** argv);
int startIMAP(int argc, char** argv);
int stopIMAP(int argc, char** argv);
int restartIMAP(int argc, char** argv);
int statusIMAP(int argc, char** argv);
int enableSubmission(int argc, char** argv);
int disableSubmission(int argc, char** argv);

// Adds the words of this family, legacy words included, to the command
// table.
void registerServiceCommands(CommandMapAssigner& assign);

} // namespace korvo::mail::postfix::vornctl_commands

#endif
