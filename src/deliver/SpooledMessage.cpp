#include "deliver/SpooledMessage.h"

#include "utils/Exceptions.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace korvo::deliver {

namespace {

int createAnonymousFile(const std::string& directory) {
    const int fd = ::open(directory.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL))
        return fd;
    std::string name = directory + "/vornctl-deliver.XXXXXX";
    const int named = ::mkostemp(name.data(), O_CLOEXEC);
    if (named >= 0)
        ::unlink(name.c_str());
    return named;
}

} // namespace

bool copyAll(int input, int output, off_t* copied) {
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

SpooledMessage::SpooledMessage(int input, const std::string& directory)
    : fd_(createAnonymousFile(directory)) {
    if (fd_.get() < 0)
        throwSystemError("create a temporary file in " + directory);
    if (!copyAll(input, fd_.get(), &size_))
        throwSystemError("copy the message into a temporary file in " + directory);
}

int SpooledMessage::openReader() const {
    const std::string self = "/proc/self/fd/" + std::to_string(fd_.get());
    const int reader = ::open(self.c_str(), O_RDONLY | O_CLOEXEC);
    if (reader < 0)
        throwSystemError("reopen the spooled message");
    return reader;
}

} // namespace korvo::deliver
