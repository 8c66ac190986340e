// Advisory file locks of the function library.
//
// A lock is an exclusive flock on a lock file that is opened for the
// purpose (created with mode 0644 when missing, never truncated, never
// through a symbolic link: a link at the lock file's name makes the lock
// fail) and never deleted. The lock file is
// either the protected path itself or, "hashed", a file under
// /var/lock/files named by the MD5 digest of the protected path, so that the
// protected file is never opened and any path can be locked before it exists.
// Cooperating processes (other runs of this tool, the panel's utilities) are
// serialised only when they use the same lock-file name. A lock is released
// by rm_lock or when the process ends.
//
// mk_lock and mk_nonblock_lock return a lock_struct_t whose fd tells the
// outcome: positive while the lock is held, 0 when the non-waiting form found
// it busy, -1 on error (the open failure is logged through korvo_log, errno
// is kept). They return null only when memory runs out. Every structure they
// return must be given back to rm_lock, whatever its fd.
#ifndef KORVO_UTILS_LOCKS_H
#define KORVO_UTILS_LOCKS_H

#include <cstdint>
#include <string>

// Directory of the hashed lock files; taking a hashed lock creates it (root's,
// mode 0755) when it is missing.
#define KORVO_LOCK_FILES_DIR "/var/lock/files"

struct lock_struct_t {
    int32_t fd;
    char* path; // the lock file's path, owned
};

// Waits for the lock. Non-zero hashed selects the hashed lock-file name.
lock_struct_t* mk_lock(const char* path, int hashed);
// Does not wait: a busy lock gives fd 0.
lock_struct_t* mk_nonblock_lock(const char* path, int hashed);

bool is_locked(const lock_struct_t* lock);

// Releases the lock (when held) and frees the structure. -1 for null or
// when closing the lock file fails, else 0.
int rm_lock(lock_struct_t* lock);
int free_lock(lock_struct_t* lock);

// The hashed lock-file name of path: KORVO_LOCK_FILES_DIR "/" md5(path).
std::string mk_flock_path(const char* path);

// Writes the MD5 digest of prefix followed by data (either may be null) into
// out as 32 lowercase hexadecimal digits and a NUL; returns out. out must
// hold 33 bytes.
char* get_md5sum(const char* prefix, const char* data, char* out);

#endif
