// Mailbox quotas as the panel sets them: per mailbox, and for all mailboxes
// of a domain that have no quota of their own.
//
// The quota the panel gives covers the whole mailbox, the attachments store
// included, so the size of "@attachments" is subtracted before the rest is
// written to the Maildir's maildirsize (MaildirSize.h). A quota smaller than
// the attachments leaves one byte: nothing more can be delivered, and a
// warning says so. The domain-wide functions read the domain's mailboxes
// and its limits from the panel database.
//
// Function library conventions: 1 on success, 0 on failure after a message
// through messlog2 (never ending the process). store_mbox_quota changes the
// current directory while it works and puts it back.
#ifndef KORVO_MAIL_STORAGE_MAILBOXQUOTA_H
#define KORVO_MAIL_STORAGE_MAILBOXQUOTA_H

namespace korvo::mail {

// The size of "@attachments" in the current directory in bytes, directory
// entries included; 0 when there is no such directory, -1 when it cannot be
// counted. A link at that name is no directory.
long long attachmentsSize();

// The byte quota maildirsize gets for a mailbox quota (negative: no limit,
// written as 0) with attachments bytes in its store: the rest, or 1 when
// nothing or less is left.
long long quotaAfterAttachments(long long quota, long long attachments);

extern const char attachmentsWarning[];

} // namespace korvo::mail

// Stores quota (bytes, negative: the default, no limit) for the mailbox of
// mailname in domain (converted to its ASCII form here).
int store_mbox_quota(const char* domain, const char* mailname, long long quota);

#endif
