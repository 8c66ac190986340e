// The attachments store of a mailbox: files the panel attaches to it, for
// example those the autoresponder sends along.
//
// The store is the directory "@attachments" of the mail home
// (root/domain/mailname, the domain in its ASCII form; made with the home).
// Its size counts against the mailbox quota. An attachment name is one
// path component: a name holding "/", an empty name, "." and ".." are
// refused before anything is touched. The store belongs to popuser, so it
// is opened without following a link at its name, an added file is written
// through a temporary beside it (created exclusively, never through a
// link) and renamed over its name, and removal unlinks the name itself.
//
// Function library conventions: 0 on success, -1 on failure after a
// message through messlog2. A domain that cannot be converted to ASCII
// ends the process with status 1, as does listing with an empty mailname.
#ifndef KORVO_MAIL_STORAGE_ATTACHMENTS_H
#define KORVO_MAIL_STORAGE_ATTACHMENTS_H

// Copies sourceFile into the store as name (root-owned, mode 0644),
// replacing an attachment of that name in one step. The same path for
// source and target copies nothing.
int add_attachment(const char* mailname, const char* domain, const char* sourceFile,
                   const char* name);
// Deletes the attachment; one that does not exist is no error.
int remove_attachment(const char* mailname, const char* domain, const char* name);
// Prints "NAME\tSIZE\n" for every entry of the store that is not a
// directory (following links), in directory order: with fullPath the
// store's path, "/" and the name; with blocks the allocated 512-byte blocks
// in bytes instead of the length.
int list_attachments(const char* mailname, const char* domain, int blocks, int fullPath);
// list_attachments for every subdirectory of the domain root; fails only
// when the domain root cannot be read.
int list_all_attachments(const char* domain, int blocks, int fullPath);

#endif
