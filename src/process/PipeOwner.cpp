#include "process/PipeOwner.h"

#include "utils/Exceptions.h"

#include <cerrno>
#include <exception>
#include <unistd.h>

namespace korvo {

PipeOwner::~PipeOwner() noexcept(false) {
    if (std::uncaught_exceptions() > 0) {
        const int savedErrno = errno;
        readEnd.close_nothrow();
        writeEnd.close_nothrow();
        errno = savedErrno;
        return;
    }
    const int readResult = readEnd.close_nothrow();
    const int readErrno = errno;
    writeEnd.close();
    if (readResult != 0)
        throwSystemError("pipe read-end close", readErrno);
}

void PipeOwner::open(const std::string& failureMessage, int flags) {
    int ends[2];
    if (::pipe2(ends, flags) != 0)
        throwSystemError(failureMessage);
    readEnd.seize(ends[0]);
    writeEnd.seize(ends[1]);
}

} // namespace korvo
