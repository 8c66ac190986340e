#include "process/MKLock.h"

#include "utils/Exceptions.h"

#include <cerrno>
#include <stdexcept>

namespace korvo {

namespace {

lock_struct_t* acquire(const std::string& path, MKLock::FilenameFlag filenameFlag,
                       MKLock::BlockFlag blockFlag) {
    const int hashed = filenameFlag == MKLock::LOCK_BY_DIGEST ? 1 : 0;
    lock_struct_t* lock = blockFlag == MKLock::NONBLOCK ? mk_nonblock_lock(path.c_str(), hashed)
                                                        : mk_lock(path.c_str(), hashed);
    if (lock == nullptr)
        throwSystemError("lock() failed", ENOMEM);
    if (lock->fd > 0)
        return lock;
    const bool busy = lock->fd == 0;
    const int saved = errno;
    rm_lock(lock);
    if (busy)
        throw std::runtime_error("lock(" + path + ") failed: file is already locked");
    throwSystemError("lock() failed", saved);
}

} // namespace

MKLock::MKLock(const std::string& path, FilenameFlag filenameFlag, BlockFlag blockFlag)
    : lock_(acquire(path, filenameFlag, blockFlag)) {}

MKLock::~MKLock() {
    rm_lock(lock_);
}

} // namespace korvo
