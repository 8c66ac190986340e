// Where a recipient's mail home is, and its .qmail file.
//
// The home of mailname@domain is root/domain/mailname, found in the
// directories themselves: the agent runs as the mail account, which cannot
// read the lookup tables, and it starts no process to ask. As Postfix's
// own lookups do, names match whatever their letter case (an exact match
// first, then the lower-case name, then an entry equal but for case), and an
// address with an extension ("info+news", any of Postfix's recipient
// delimiters) falls back to the mailname before the delimiter when no
// mailname holds the whole local part. A recipient without a home, or with
// two homes differing only in case, defers the delivery: Postfix accepted
// the address from its tables, so a missing home is a moment of a change
// (a rename, a removal) and never a reason to lose the message.
//
// The home is opened without following a symbolic link; a home that is
// missing, unreadable, not a directory or writable by others defers the
// delivery, as does a .qmail that is missing, a link, not a regular file,
// writable by others or larger than 64 KiB. Every failure is a
// DeliveryFailure naming the path and the system error.
#ifndef KORVO_DELIVER_MAILHOME_H
#define KORVO_DELIVER_MAILHOME_H

#include "utils/FdOwner.h"

#include <string>

namespace korvo::deliver {

// The home directory of recipient (mailname@domain) below mailRoot;
// delimiters are the characters that may start an address extension.
std::string findMailHome(const std::string& recipient, const std::string& mailRoot,
                         const std::string& delimiters);

// The home opened as a directory (O_NOFOLLOW).
int openMailHome(const std::string& home);

// The content of the home's .qmail.
std::string readDotQmail(int homeFd, const std::string& home);

} // namespace korvo::deliver

#endif
