// The delivery file ".qmail" of a mail home, edited line by line.
//
// The local delivery agent reads the file for every message to the
// mailbox: "| true" (always there), "| /usr/bin/deliverquota ./Maildir"
// when mail is stored in the Maildir under its quota, and one "&ADDRESS"
// line per forward, the domain part in ASCII (IDNA) form. The old plain
// "./Maildir/" line is removed whenever delivery is switched, never written.
// Every change holds the file's lock (MKLock, by digest) while it reads the
// file, changes its lines in memory and replaces it in one rename (a line
// added again is removed first, so it moves to the end): the agent, which
// reads without the lock, sees the old file or the new one, never a moment
// between a removal and an append. The new file belongs to popuser and has
// mode 0600 before it takes the name.
//
// The mail home belongs to popuser, who may put a symbolic link at ".qmail"
// or ".qmail.tmp": a ".qmail" that is a link or not a regular file is
// refused when read (EINVAL, or ELOOP for a link), a link at ".qmail.tmp"
// is removed, never written through, and the rename replaces a link at
// ".qmail" itself rather than following it.
//
// Function library conventions: 0 on success, -1 on failure after a
// message through messlog2 (never ending the process), with errno set to
// the cause (EINVAL for an address that cannot be written as a line).
#ifndef KORVO_MAIL_STORAGE_DOTQMAIL_H
#define KORVO_MAIL_STORAGE_DOTQMAIL_H

// Replaces the file by the single line "| true".
int dotqmail_reset(const char* path);
// Removes "./Maildir/" and the deliverquota line, then appends the latter.
int dotqmail_add_delivery(const char* path);
// Removes "./Maildir/" and the deliverquota line; fails on a missing file.
int dotqmail_remove_delivery(const char* path);
// Removes the "&ADDRESS" line of the address (ASCII form), then appends it.
int dotqmail_add_forward(const char* path, const char* address);
// Removes the "&ADDRESS" line; fails on a missing file.
int dotqmail_remove_forward(const char* path, const char* address);

#endif
