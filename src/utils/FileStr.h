// The locked line editor of the function library.
//
// file_strings adds lines to or removes lines from a text file shared with
// other programs (.qmail files, handler parameter files). Each edit holds the
// hashed lock of the file (see Locks.h) for its whole duration, so edits by
// cooperating processes never interleave. Rewrites go through PATH.tmp
// beside the file (korvo::ReplaceFile: a stale copy is removed, the copy is
// created exclusively, gets the file's owner, group and mode through its
// descriptor, is synced and renamed over the file, and the directory is
// synced): readers and a crash see either the old or the new content, and a
// file of another account keeps its owner and mode. Appends write to the
// file in place; a file created by an append belongs to the calling process
// with the umask's mode.
//
// The tool runs as root in directories the mail account can write, so a
// symbolic link is never followed: a link at PATH.tmp is removed, a link (or
// anything but a regular file) at PATH makes the edit fail.
//
// Lines are compared without their trailing newline, and so are the given
// strings. Results: 0 on success (unknown actions and positions change
// nothing and succeed), 1 on failure after a message through korvo_log; a
// failed write to the temporary copy ends the process. A failed edit removes
// its temporary copy; the file itself is never half-written.
#ifndef KORVO_UTILS_FILESTR_H
#define KORVO_UTILS_FILESTR_H

enum file_str_action {
    FILE_STR_ADD = 0,       // positions: FILE_STR_BEGIN, FILE_STR_END
    FILE_STR_REMOVE = 1,    // every line equal to one of the strings
    FILE_STR_REMOVE_BY = 2, // positions: FILE_STR_BEGIN, FILE_STR_END, FILE_STR_ANYWHERE
};

enum file_str_position {
    FILE_STR_BEGIN = 0,   // add before the first line; remove lines starting with the string
    FILE_STR_END = 1,     // append; remove lines ending with the string
    FILE_STR_ANYWHERE = 2 // remove lines containing the string
};

// strings: a null-terminated string list.
int file_strings(const char* path, const char* const* strings, int action, int position);
int file_str(const char* path, const char* string, int action, int position);

#endif
