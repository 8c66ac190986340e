// The Maildir++ quota file "maildirsize" of a mailbox.
//
// Courier-IMAP's deliverquota reads the file in the mailbox's Maildir to
// enforce the quota at delivery: a first line "<bytes>S,<count>C" (0 bytes:
// no limit) and usage lines of a byte and a message count, right-aligned in
// 12 characters each. The delivery agent and the mail-access services
// append and rewrite it concurrently, so it is always replaced whole: the
// new file is made in the Maildir's "tmp" under a unique name (time,
// process id, host name; at most five attempts two seconds apart), checked
// to be the file just created, filled, fsynced and renamed over the old
// one, and the Maildir is fsynced. When a folder changed while the usage
// was counted the file is backdated by 960 seconds, which makes Maildir++
// readers recount it (they trust a file for 15 minutes).
//
// The Maildir, its "tmp" and the file itself belong to the mail account:
// every name is opened relative to descriptors with O_NOFOLLOW, the
// temporary is created with O_EXCL and chowned through its descriptor.
//
// Function library conventions: write and store return 1 on success and 0
// on failure (errno set; messages through messlog2, which never ends the
// process here); get_maildirpp_usage returns 0 or -1 with errno.
#ifndef KORVO_MAIL_STORAGE_MAILDIRSIZE_H
#define KORVO_MAIL_STORAGE_MAILDIRSIZE_H

#include <string>
#include <sys/types.h>

// Writes maildir/maildirsize for uid:gid with the quota line and a freshly
// counted usage line. On success the current directory is left at maildir
// (callers restore their own); on failure it is unchanged. Fails with
// EAGAIN after five taken temporary names, EINVAL when the text exceeds 99
// characters.
int write_maildirpp_maildirsize(const char* maildir, uid_t uid, gid_t gid, long long quotaBytes,
                                unsigned long long quotaCount);

// The same for the Maildir open as maildirFd (shownPath names it in
// messages); the current directory is left alone.
int write_maildirpp_maildirsize_at(int maildirFd, const char* shownPath, uid_t uid, gid_t gid,
                                   long long quotaBytes, unsigned long long quotaCount);

// The text of maildirsize in the Maildir open as maildirFd: 1 when it is a
// regular file of at most 5120 bytes, else 0.
int read_maildirpp_maildirsize(int maildirFd, std::string& text);

// Writes the quota for popuser, without a message-count limit: a negative
// quota (no limit) is written as 0, a quota of 0 as 1 byte.
int store_maildirpp_quota_raw(const char* maildir, long long quota);

// The usage of the mailbox maildir: the sum of the usage lines of its
// maildirsize, or, when that file is missing, unreadable, longer than 5120
// bytes or holds a malformed line (a negative message count among them),
// a fresh count of its folders.
int get_maildirpp_usage(const char* maildir, long long* bytes, unsigned long long* count);

#endif
