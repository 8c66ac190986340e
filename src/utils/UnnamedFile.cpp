#include "utils/UnnamedFile.h"

#include "utils/Exceptions.h"
#include "utils/FdOwner.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace korvo {

int createUnnamedFileAt(int directoryFd, const std::string& shownDirectory) {
    const int fd = ::openat(directoryFd, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0)
        return fd;
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
        throwSystemError("create an unnamed file in " + shownDirectory, errno);
    const std::string name = "vornctl." + std::to_string(::getpid()) + ".spool";
    const int named = ::openat(directoryFd, name.c_str(),
                               O_CREAT | O_EXCL | O_RDWR | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (named < 0)
        throwSystemError("create a temporary file in " + shownDirectory, errno);
    ::unlinkat(directoryFd, name.c_str(), 0);
    return named;
}

int createUnnamedFile(const std::string& directory) {
    const FdOwner directoryFd(
        ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (directoryFd.get() < 0)
        throwSystemError("open " + directory, errno);
    return createUnnamedFileAt(directoryFd.get(), directory);
}

std::string selfPath(int fd) {
    return "/proc/self/fd/" + std::to_string(fd);
}

int reopenForReading(int fd) {
    const int reader = ::open(selfPath(fd).c_str(), O_RDONLY | O_CLOEXEC);
    if (reader < 0)
        throwSystemError("reopen the message file", errno);
    return reader;
}

} // namespace korvo
