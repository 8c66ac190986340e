// Courier IMAP and POP3 as Debian ships them: one init script per daemon
// (courier-pop, courier-pop-ssl, courier-imap, courier-imap-ssl) beside the
// authentication daemon (courier-authdaemon) through which they, and
// Postfix's SMTP AUTH, log users in. One request governs the daemons it
// names: start and restart bring the authentication daemon up first; a
// stop leaves it running for SMTP AUTH unless every daemon stops; Courier
// has no reload, so a reload restarts (its settings are read at start).
//
// Results follow restart_daemon: 0 when every script succeeded, -1 when
// one failed (reported through messlog2, the remaining daemons still
// handled). courier_status asks the scripts' status action: 0 when every
// named daemon runs, 1 when one is stopped, -1 when a script cannot say.
#ifndef KORVO_UTILS_COURIERDAEMONS_H
#define KORVO_UTILS_COURIERDAEMONS_H

enum CourierDaemon : unsigned {
    COURIER_POP3 = 0x1,
    COURIER_IMAP = 0x2,
    COURIER_POP3S = 0x4,
    COURIER_IMAPS = 0x8,
    COURIER_ALL = 0xF,
};

// True where Courier comes as one script per daemon.
bool courier_split_scripts();

// action: start, stop, restart or reload.
int courier_control(unsigned daemons, const char* action);

int courier_status(unsigned daemons);

#endif
