// Variables of Courier-IMAP's service settings files.
//
// The files "imapd", "imapd-ssl", "pop3d" and "pop3d-ssl" under
// COURIER_IMAP_ROOT_D/etc/courier-imap hold NAME=value lines. A change
// request sets or removes a few variables in all four: the first line of a
// set variable is replaced in place and its later lines dropped, a removed
// variable loses all its lines, a set variable the file lacks is appended,
// and every other line is kept byte for byte. Each file is rewritten under
// its hashed lock (Locks.h) through a temporary file beside it and gets the
// tool's user and group and mode 0600; a file that does not exist is
// skipped. Courier-IMAP is
// restarted afterwards.
//
// Results: the restart's result (0 or -1), or -1 after a message through
// messlog2 (never ending the process) when a file cannot be rewritten; the
// files after it are then left alone and nothing is restarted.
#ifndef KORVO_MAIL_SETTINGS_COURIERSETTINGS_H
#define KORVO_MAIL_SETTINGS_COURIERSETTINGS_H

#include <string>

enum CourierParamAction {
    COURIER_PARAM_SET = 0,   // NAME=value
    COURIER_PARAM_REMOVE = 1 // no NAME= line; other values leave the lines alone
};

// One change of a request. A null name ends the request; a null value is
// the empty string.
struct courier_param_entry {
    const char* name;
    int action;
    const char* value;
};

// At most this many entries of a request are applied; the rest are ignored
// with "Too many variables specified, tail is ignored".
constexpr int COURIER_PARAMS_MAX = 31;

int set_courier_params_list(const courier_param_entry* entries);

// RELAYCLIENT (empty value), POPAUTH ("1") and SHORTNAMES ("1") set when
// their flag is non-zero, else removed; poplockTime, as a signed 16-bit
// number, sets POPLOCK_TIME when positive, removes it when 0 and leaves it
// alone when negative.
int set_courier_params(int relayclient, int popauth, int poplockTime, int shortnames);

// SHORTNAMES alone: set to "1", or removed for 0.
int set_courier_shortnames_params(int shortnames);

#endif
