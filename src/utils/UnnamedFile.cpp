#include "utils/UnnamedFile.h"

#include "utils/Exceptions.h"
#include "utils/FdOwner.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

namespace korvo {

namespace {

constexpr int NAME_ATTEMPTS = 100;

std::string randomSuffix() {
    std::uint64_t value = 0;
    if (::getrandom(&value, sizeof value, 0) != sizeof value)
        value ^= static_cast<std::uint64_t>(::getpid()) << 32 ^
                 static_cast<std::uint64_t>(::time(nullptr));
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
    return text;
}

} // namespace

int createUnnamedFileAt(int directoryFd, const std::string& shownDirectory) {
    const int fd = ::openat(directoryFd, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0)
        return fd;
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
        throwSystemError("create an unnamed file in " + shownDirectory, errno);
    // A name nobody can guess: the directory may be one every account can
    // write (/var/tmp), where a planted file must not block the next run.
    for (int attempt = 0; attempt < NAME_ATTEMPTS; ++attempt) {
        const std::string name = "vornctl." + randomSuffix() + ".spool";
        const int named = ::openat(directoryFd, name.c_str(),
                                   O_CREAT | O_EXCL | O_RDWR | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (named >= 0) {
            ::unlinkat(directoryFd, name.c_str(), 0);
            return named;
        }
        if (errno != EEXIST)
            break;
    }
    throwSystemError("create a temporary file in " + shownDirectory, errno);
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
