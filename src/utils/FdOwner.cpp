#include "utils/FdOwner.h"

#include "utils/Exceptions.h"

#include <cerrno>
#include <exception>
#include <unistd.h>

namespace korvo {

namespace {

// Linux releases the descriptor even when close(2) reports EINTR, so that
// result counts as closed: retrying could close a descriptor that has been
// reused meanwhile.
int closeDescriptor(int fd) {
    const int result = ::close(fd);
    return result == -1 && errno == EINTR ? 0 : result;
}

} // namespace

FdOwner::~FdOwner() noexcept(false) {
    if (owned < 0)
        return;
    if (std::uncaught_exceptions() > 0) {
        const int savedErrno = errno;
        close_nothrow();
        errno = savedErrno;
        return;
    }
    close();
}

void FdOwner::close() {
    if (close_nothrow() != 0)
        throwSystemError("close");
}

int FdOwner::close_nothrow() {
    if (owned < 0)
        return 0;
    const int result = closeDescriptor(owned);
    owned = inUse = -1;
    return result;
}

void FdOwner::seize(int fd) {
    close();
    owned = inUse = fd;
}

void FdOwner::borrow(int fd) {
    close();
    inUse = fd;
}

int FdOwner::release() {
    const int fd = owned;
    owned = inUse = -1;
    return fd;
}

} // namespace korvo
