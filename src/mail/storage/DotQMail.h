// The delivery file ".qmail" of a mail home, edited line by line.
//
// The local delivery agent reads the file for every message to the
// mailbox: "| true" (always there), "| /usr/bin/deliverquota ./Maildir"
// when mail is stored in the Maildir under its quota, and one "&ADDRESS"
// line per forward, the domain part in ASCII (IDNA) form. The old plain
// "./Maildir/" line is removed whenever delivery is switched, never written.
// Lines are edited with the locked line editor file_str (a line added again
// is removed first, so it moves to the end); a reset replaces the whole
// file. After every change the file belongs to popuser and has mode 0600.
//
// The mail home belongs to popuser, who may put a symbolic link at ".qmail"
// or ".qmail.tmp": the line editor refuses a ".qmail" that is not a regular
// file and removes a link at ".qmail.tmp", a reset replaces a link at
// ".qmail" itself, and owner and mode are set through a descriptor opened
// without following links.
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
