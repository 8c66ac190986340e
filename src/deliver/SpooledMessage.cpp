#include "deliver/SpooledMessage.h"

#include "utils/Exceptions.h"
#include "utils/FileCopy.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace korvo::deliver {

namespace {

// An unnamed file in the directory; where the file system has none, a
// named one removed at once.
int createAnonymousFile(int directoryFd) {
    const int fd = ::openat(directoryFd, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL))
        return fd;
    const std::string name = "vornctl-deliver." + std::to_string(::getpid()) + ".spool";
    const int named = ::openat(directoryFd, name.c_str(),
                               O_CREAT | O_EXCL | O_RDWR | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (named >= 0)
        ::unlinkat(directoryFd, name.c_str(), 0);
    return named;
}

std::string selfPath(int fd) {
    return "/proc/self/fd/" + std::to_string(fd);
}

} // namespace

SpooledMessage::SpooledMessage(int input, const std::string& directory) {
    const FdOwner directoryFd(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directoryFd.get() < 0)
        throwSystemError("open " + directory);
    fd_.seize(createAnonymousFile(directoryFd.get()));
    fill(input, directory);
}

SpooledMessage::SpooledMessage(int input, int directoryFd, const std::string& shownDirectory)
    : fd_(createAnonymousFile(directoryFd)) {
    fill(input, shownDirectory);
}

void SpooledMessage::fill(int input, const std::string& shownDirectory) {
    if (fd_.get() < 0)
        throwSystemError("create a temporary file in " + shownDirectory);
    if (!copyAll(input, fd_.get(), &size_))
        throwSystemError("copy the message into a temporary file in " + shownDirectory);
}

bool SpooledMessage::linkAt(int dirFd, const std::string& name) const {
    if (linked_) {
        errno = EEXIST;
        return false;
    }
    if (::fsync(fd_.get()) != 0 || ::linkat(AT_FDCWD, selfPath(fd_.get()).c_str(), dirFd,
                                            name.c_str(), AT_SYMLINK_FOLLOW) != 0)
        return false;
    linked_ = true;
    return true;
}

int SpooledMessage::openReader() const {
    const int reader = ::open(selfPath(fd_.get()).c_str(), O_RDONLY | O_CLOEXEC);
    if (reader < 0)
        throwSystemError("reopen the spooled message");
    return reader;
}

} // namespace korvo::deliver
