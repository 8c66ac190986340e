// Where a recipient's mail home is, and its .qmail file.
//
// The mailbox table (hash:/var/spool/postfix/korvo/vmailbox, asked through
// "postmap -q") maps the address to the mailbox path relative to the root
// of mail homes; its home is that path without "Maildir/". An address the
// table does not hold is no mailbox: NoSuchMailbox. When the table cannot be
// read (its directory is closed to the mail account, postmap fails), the
// home follows the fixed layout root/domain/mailname.
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

// The home directory of recipient (mailname@domain) below mailRoot.
std::string findMailHome(const std::string& recipient, const std::string& mailRoot,
                         const std::string& mailboxTable);

// The home opened as a directory (O_NOFOLLOW).
int openMailHome(const std::string& home);

// The content of the home's .qmail.
std::string readDotQmail(int homeFd, const std::string& home);

} // namespace korvo::deliver

#endif
