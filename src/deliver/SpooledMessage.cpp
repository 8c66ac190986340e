#include "deliver/SpooledMessage.h"

#include "utils/Exceptions.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/sendfile.h>
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

constexpr std::size_t KERNEL_COPY_CHUNK = 1 << 20;

// One step of an in-kernel copy: bytes moved, 0 at the end, -1 with errno.
using KernelCopy = ssize_t (*)(int input, int output);

ssize_t sendFile(int input, int output) {
    return ::sendfile(output, input, nullptr, KERNEL_COPY_CHUNK);
}

ssize_t splicePipe(int input, int output) {
    return ::splice(input, nullptr, output, nullptr, KERNEL_COPY_CHUNK, SPLICE_F_MOVE);
}

bool copyThroughBuffer(int input, int output, off_t* copied) {
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(input, buffer, sizeof buffer);
        if (got == 0)
            return true;
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        for (ssize_t done = 0; done < got;) {
            const ssize_t put = ::write(output, buffer + done, static_cast<size_t>(got - done));
            if (put < 0 && errno == EINTR)
                continue;
            if (put < 0)
                return false;
            done += put;
        }
        if (copied != nullptr)
            *copied += got;
    }
}

} // namespace

bool copyAll(int input, int output, off_t* copied) {
    struct stat st {};
    const KernelCopy kernelCopy = ::fstat(input, &st) != 0 ? nullptr
                                  : S_ISREG(st.st_mode)    ? sendFile
                                  : S_ISFIFO(st.st_mode)   ? splicePipe
                                                           : nullptr;
    bool started = false;
    while (kernelCopy != nullptr) {
        const ssize_t moved = kernelCopy(input, output);
        if (moved == 0)
            return true;
        if (moved < 0 && errno == EINTR)
            continue;
        // A pair of files the kernel cannot copy between: the plain way.
        if (moved < 0 && !started && (errno == EINVAL || errno == ENOSYS))
            break;
        if (moved < 0)
            return false;
        started = true;
        if (copied != nullptr)
            *copied += moved;
    }
    return copyThroughBuffer(input, output, copied);
}

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
