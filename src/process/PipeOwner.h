// Ownership of both ends of one pipe(2).
//
// open() creates the pipe (close-on-exec unless told otherwise) and raises
// korvo::SystemError with the caller's message when that fails. Each end is
// an FdOwner, so an end can be handed on with release() or closed early.
// The destructor closes whatever is still open; outside exception
// propagation a failure raises korvo::SystemError ("pipe read-end close"
// or "close").
#ifndef KORVO_PROCESS_PIPEOWNER_H
#define KORVO_PROCESS_PIPEOWNER_H

#include "utils/FdOwner.h"

#include <fcntl.h>
#include <string>

namespace korvo {

class PipeOwner {
public:
    PipeOwner() = default;
    PipeOwner(const PipeOwner&) = delete;
    PipeOwner& operator=(const PipeOwner&) = delete;
    ~PipeOwner() noexcept(false);

    // Creates a new pipe with pipe2(flags); both ends must be closed.
    void open(const std::string& failureMessage, int flags = O_CLOEXEC);

    FdOwner readEnd;
    FdOwner writeEnd;
};

} // namespace korvo

#endif
