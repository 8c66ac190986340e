// Delivery of one message into a Maildir below a mail home.
//
// The message is written under a unique name into the Maildir's "tmp",
// flushed to disk, linked into "new" and removed from "tmp", and "new" is
// flushed, so a reader sees the message whole or not at all and a crash
// never leaves a partial message in "new". A spooled message on the same
// file system (the agent spools into this "tmp") is flushed and linked
// into "new" at once, without a copy. Every directory on the way is
// opened relative to the home without following a symbolic link, and the
// file is created with O_EXCL|O_NOFOLLOW, so a link planted in the home
// cannot redirect the delivery. The name is
// "SECONDS.MMICROSECONDSPPIDQCOUNT.HOST,S=SIZE" (Maildir++: the size lets
// quota counting skip a stat).
//
// The mailbox's Maildir++ quota holds as deliverquota holds it
// (mail/storage/DeliveryQuota.h): a message that does not fit bounces,
// after deliverquota's words on standard error; a stored one is added to
// maildirsize.
//
// Any other failure defers the delivery (DeliveryFailure naming the path and the
// system error) and removes what was written to "tmp".
#ifndef KORVO_DELIVER_MAILDIRDELIVERY_H
#define KORVO_DELIVER_MAILDIRDELIVERY_H

#include "deliver/SpooledMessage.h"

#include <string>

namespace korvo::deliver {

// maildir: relative to the home, with its trailing slash ("Maildir/").
// Returns the name the message got in "new".
std::string deliverToMaildir(int homeFd, const std::string& home, const std::string& maildir,
                             const SpooledMessage& message);

// The Maildir's "tmp" opened as the walk to it is (the spool's place).
int openMaildirTmp(int homeFd, const std::string& home, const std::string& maildir);

// A name no other delivery on any host gets; count distinguishes the
// deliveries of one process.
std::string uniqueMaildirName(off_t size, unsigned count);

} // namespace korvo::deliver

#endif
