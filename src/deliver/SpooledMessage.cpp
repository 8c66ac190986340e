#include "deliver/SpooledMessage.h"

#include "utils/Exceptions.h"
#include "utils/FileCopy.h"
#include "utils/UnnamedFile.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace korvo::deliver {

SpooledMessage::SpooledMessage(int input, const std::string& directory)
    : fd_(createUnnamedFile(directory)) {
    fill(input, directory);
}

SpooledMessage::SpooledMessage(int input, int directoryFd, const std::string& shownDirectory)
    : fd_(createUnnamedFileAt(directoryFd, shownDirectory)) {
    fill(input, shownDirectory);
}

void SpooledMessage::fill(int input, const std::string& shownDirectory) {
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
    return reopenForReading(fd_.get());
}

} // namespace korvo::deliver
