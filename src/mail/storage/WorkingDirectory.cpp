#include "mail/storage/WorkingDirectory.h"

#include "mail/storage/NoFollowFs.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace korvo::mail {

WorkingDirectory::WorkingDirectory() : saved_(::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {}

WorkingDirectory::~WorkingDirectory() {
    const int code = errno;
    if (saved_.get() >= 0 && ::fchdir(saved_.get()) != 0) {
        // The directory we came from is gone: stay where we are.
    }
    saved_.close_nothrow();
    errno = code;
}

bool WorkingDirectory::enter(const char* path) {
    const FdOwner fd(openDirectoryAt(AT_FDCWD, path));
    return fd.get() >= 0 && ::fchdir(fd.get()) == 0;
}

} // namespace korvo::mail
