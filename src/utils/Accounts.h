// Account lookups of the function library (getpwnam).
//
// korvo_getpw fills whichever of its outputs are given and returns 0, or -1
// after a message through korvo_log when the account does not exist.
// korvo_ugid returns 0 for a missing account, which callers cannot tell from
// root: use it only for accounts that must exist (popuser).
#ifndef KORVO_UTILS_ACCOUNTS_H
#define KORVO_UTILS_ACCOUNTS_H

#include <string>
#include <sys/types.h>

int korvo_getpw(const char* account, uid_t* uid, gid_t* gid, std::string* home);

// The account's user id, or with non-zero wantGroup its primary group id.
unsigned int korvo_ugid(const char* account, int wantGroup);

#endif
