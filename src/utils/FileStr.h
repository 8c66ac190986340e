// The locked line editor of the function library.
//
// file_strings adds lines to or removes lines from a text file shared with
// other programs (.qmail files, handler parameter files). Each edit holds the
// hashed lock of the file (see Locks.h) for its whole duration, so edits by
// cooperating processes never interleave. Rewrites go through PATH.tmp
// beside the file, which gets the file's owner, group and mode before it is
// renamed over the file: readers see either the old or the new content, and
// a file of another account keeps its owner and mode. Appends write to the
// file in place; a file created by an append belongs to the calling process
// with the umask's mode.
//
// Lines are compared without their trailing newline, and so are the given
// strings. Results: 0 on success (unknown actions and positions change
// nothing and succeed), 1 on failure after a message through korvo_log; a
// failed write to the temporary copy ends the process. A temporary copy left
// by a failure is not removed; the file itself is never half-written.
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
