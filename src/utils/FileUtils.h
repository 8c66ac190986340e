// File and directory utilities of the function library.
//
// Conventions differ per function, as their callers expect them:
//  - copy_file returns 0, or 1 after a message (a caller negates it);
//  - copy_file_atomic, make_dir_p and rm_tree end the process with status 1
//    on a failure they cannot go on from (messlog2), else return 0;
//  - the others return 0, or -1 after a message through korvo_log.
// rm_tree and get_dir_size walk a tree through directory descriptors and
// never follow a symbolic link: a link is removed or counted itself, never
// what it points to, even when a directory is swapped for a link meanwhile.
// They do not change the current directory.
#ifndef KORVO_UTILS_FILEUTILS_H
#define KORVO_UTILS_FILEUTILS_H

#include <cstddef>
#include <sys/types.h>

// Copies source into target ("-": standard output) under the hashed lock of
// target: a new file with the source's permission bits (the umask applies),
// owned by the caller, replaces target (korvo::ReplaceFile: synced, renamed
// over it, never written through a link). The same path for both copies
// nothing.
int copy_file(const char* source, const char* target);

// Copies source into a new file beside target (TARGET.XXXXXX, six random
// characters, created exclusively), gives it uid:gid and mode through its
// descriptor, syncs it and renames it over target, so that target is
// replaced in one step, also across a crash.
int copy_file_atomic(const char* source, const char* target, uid_t uid, gid_t gid, mode_t mode);

// Creates path and its missing parents, parents first, each owned by
// uid:gid, path with mode and parents with its permission bits. Existing
// directories are left as they are. A failed chown is only logged.
int make_dir_p(const char* path, uid_t uid, gid_t gid, mode_t mode);
int make_dir_rec(const char* path, uid_t uid, gid_t gid, mode_t mode);

// Replaces path by an empty file, mode 0644 (created when missing).
int create_empty_file(const char* path);

// The first line of path without surrounding whitespace, into buffer of size
// bytes (NUL-terminated); an empty file gives "".
int get_string_from_file(char* buffer, std::size_t size, const char* path);

// Owner to the account's user and primary group, then the mode.
int file_set_user_mode(const char* path, const char* account, mode_t mode);

// Removes everything below path, and path itself when removeTop is
// non-zero; a file or symbolic link is simply unlinked. A missing path is
// no error; entries vanishing meanwhile are skipped.
int rm_tree(const char* path, int removeTop);

// Size of path and, for a directory, of every entry below it: byte lengths,
// or with non-zero blocks the allocated 512-byte blocks (returned in bytes).
// -1 when path does not exist or cannot be entered; entries below it that
// cannot be read are left out.
long long get_dir_size(const char* path, int blocks);

#endif
