// Counting what a Maildir++ mailbox holds, for its quota file and its size.
//
// A mailbox is its Maildir directory: the messages in "new" and "cur", and
// the same in every Maildir++ folder (a subdirectory whose name begins with
// "."), except the folder ".Trash", which never counts against the quota. A
// message's size is taken from the ",S=<bytes>" tag of its file name, the
// tag that delivery agents write so that nobody has to stat the file; only
// untagged names are stat'ed (without following links). A directory that
// cannot be read counts as empty; a message vanishing meanwhile is skipped.
//
// Everything is read through descriptors relative to the open Maildir, with
// O_NOFOLLOW: a link planted by the mail account is never followed. Nothing
// is kept per message, so memory does not grow with the mailbox.
//
// Both functions return 0, or -1 with errno set.
#ifndef KORVO_MAIL_STORAGE_MAILDIRUSAGE_H
#define KORVO_MAIL_STORAGE_MAILDIRUSAGE_H

#include <ctime>

namespace korvo::mail {

struct MaildirUsage {
    long long bytes = 0;
    unsigned long long count = 0;
    // Latest modification time of the directories counted.
    std::time_t latest = 0;
};

// Counts the mailbox open as maildirFd into usage (which it adds to).
// Fails on a directory entry that cannot be examined for another reason
// than vanishing, and on a path of 4096 bytes or more.
int get_maildirpp_messages_usage(int maildirFd, MaildirUsage& usage);

// The latest modification time of "cur" and "new" of the mailbox open as
// maildirFd and of its folders (".Trash" left out), for telling whether a
// count missed a change. A folder that cannot be read is reported on both
// output streams and left out; -1 only when the Maildir's own "cur" or
// "new" cannot be read or the Maildir cannot be listed. shownPath names the
// Maildir in the reports.
int maildir_latest_change(int maildirFd, const char* shownPath, std::time_t& latest);

} // namespace korvo::mail

#endif
