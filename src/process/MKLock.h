// A scoped exclusive flock lock.
//
// MKLock(path) holds an exclusive lock from construction to destruction.
// With LOCK_BY_DIGEST (the default) the lock is taken on a file in
// /var/lock/files named by the MD5 digest of path, so the protected file is
// never opened and locks of different paths never contend; with
// LOCK_FILE_ITSELF on path itself. The lock file is created if missing
// (mode 0644), never truncated (so locking a file itself keeps its
// content), never opened through a symbolic link, and stays after the lock
// is released.
//
// Failures throw: a lock file that cannot be opened, or a lock refused for a
// reason other than contention, raises korvo::SystemError ("lock() failed");
// with NONBLOCK a lock held elsewhere raises std::runtime_error
// "lock(PATH) failed: file is already locked". With BLOCK the constructor
// waits as long as another process holds the lock.
#ifndef KORVO_PROCESS_MKLOCK_H
#define KORVO_PROCESS_MKLOCK_H

#include "utils/Locks.h"

#include <string>

namespace korvo {

class MKLock {
public:
    enum FilenameFlag { LOCK_BY_DIGEST = 0, LOCK_FILE_ITSELF = 1 };
    enum BlockFlag { BLOCK = 0, NONBLOCK = 1 };

    explicit MKLock(const std::string& path, FilenameFlag filenameFlag = LOCK_BY_DIGEST,
                    BlockFlag blockFlag = BLOCK);
    ~MKLock();

    MKLock(const MKLock&) = delete;
    MKLock& operator=(const MKLock&) = delete;

private:
    lock_struct_t* lock_;
};

} // namespace korvo

#endif
