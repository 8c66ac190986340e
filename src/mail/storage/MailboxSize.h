// The size of a mailbox as the size command reports it.
#ifndef KORVO_MAIL_STORAGE_MAILBOXSIZE_H
#define KORVO_MAIL_STORAGE_MAILBOXSIZE_H

// Bytes held by the mailbox of mailname in domain (converted to its ASCII
// form here): its attachments store (allocated blocks times 512 when blocks
// is non-zero; a store that cannot be counted counts 0) plus the usage of
// its Maildir (get_maildirpp_usage). Ends the process with status 1 when the
// domain cannot be converted, the names do not make a mail home path, or
// the Maildir cannot be counted.
long long get_mbox_size(const char* mailname, const char* domain, int blocks);

#endif
