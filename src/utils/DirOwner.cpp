#include "utils/DirOwner.h"

#include <cerrno>
#include <unistd.h>

namespace korvo {

DirOwner::~DirOwner() {
    const int savedErrno = errno;
    close();
    errno = savedErrno;
}

DirOwner DirOwner::fromDescriptor(int fd) {
    DIR* const dir = ::fdopendir(fd);
    if (dir == nullptr) {
        const int savedErrno = errno;
        ::close(fd);
        errno = savedErrno;
    }
    return DirOwner(dir);
}

int DirOwner::close() {
    if (dir_ == nullptr)
        return 0;
    DIR* const dir = dir_;
    dir_ = nullptr;
    return ::closedir(dir);
}

} // namespace korvo
