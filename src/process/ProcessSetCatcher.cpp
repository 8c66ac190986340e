#include "process/ProcessSetCatcher.h"

#include "process/SigBlocker.h"
#include "utils/ChildCore.h"
#include "utils/Exceptions.h"

#include <cerrno>
#include <exception>
#include <fcntl.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace korvo::process {

namespace {

// The catcher whose handler is installed; read by the signal handler.
ProcessSetCatcher* volatile installedCatcher = nullptr;

} // namespace

ProcessSetCatcher::~ProcessSetCatcher() noexcept(false) {
    if (std::uncaught_exceptions() == 0) {
        remove(false);
        return;
    }
    try {
        remove(true);
    } catch (...) {
        // Already unwinding: the first failure is the one worth reporting.
    }
}

void ProcessSetCatcher::install() {
    if (installedCatcher != nullptr)
        throw std::logic_error("ProcessSetCatcher instance has been installed already");
    struct sigaction action {};
    action.sa_sigaction = &ProcessSetCatcher::childHandler;
    action.sa_flags = SA_SIGINFO | SA_NOCLDSTOP;
    if (::sigprocmask(SIG_BLOCK, nullptr, &action.sa_mask) != 0)
        throwSystemError("sigaction");
    // The pipe comes first: once the handler is in place it may need it.
    control.open("process set catcher control pipe", O_CLOEXEC | O_NONBLOCK);
    installedCatcher = this;
    if (::sigaction(SIGCHLD, &action, &previousAction) != 0) {
        installedCatcher = nullptr;
        throwSystemError("sigaction");
    }
}

void ProcessSetCatcher::remove(bool force) {
    if (installedCatcher != this)
        return;
    // The handler must not run while the map and the pipe are torn down.
    SigBlocker blocker;
    blocker.block(SIGCHLD);
    const int readResult = control.readEnd.close_nothrow();
    const int readErrno = errno;
    control.writeEnd.close();
    if (readResult != 0)
        throwSystemError("close", readErrno);
    if (!force && static_cast<std::size_t>(terminated) < children.size())
        throw std::logic_error("there're some child processes still running");
    children.clear();
    terminated = 0;
    installedCatcher = nullptr;
    if (::sigaction(SIGCHLD, &previousAction, nullptr) != 0)
        throwSystemError("restore sigaction");
}

void ProcessSetCatcher::registerChild(int pid) {
    children[pid] = ProcessStatus{0, -1};
}

int ProcessSetCatcher::status(int pid) const {
    return processStatus(pid).status;
}

ProcessStatus ProcessSetCatcher::processStatus(int pid) const {
    const auto found = children.find(pid);
    if (found == children.end())
        throw std::out_of_range("no such pid");
    return found->second;
}

int ProcessSetCatcher::clear_control() {
    const int savedErrno = errno;
    int count = 0;
    char byte;
    for (;;) {
        const ssize_t result = ::read(control.readEnd.get(), &byte, 1);
        if (result == 1) {
            ++count;
            continue;
        }
        if (result == -1 && errno == EINTR)
            continue;
        break;
    }
    errno = savedErrno;
    return count;
}

void ProcessSetCatcher::childHandler(int, siginfo_t*, void*) {
    ProcessSetCatcher* const catcher = installedCatcher;
    if (catcher == nullptr)
        return;
    const int savedErrno = errno;
    catcher->reapChildren();
    errno = savedErrno;
}

// Runs inside the signal handler: no allocation, only existing map entries.
// Each registered child is waited for by its pid, so children that others
// started (a fork_execv_* run inside a receiver) stay theirs to reap.
void ProcessSetCatcher::reapChildren() {
    for (auto& [pid, entry] : children) {
        if (entry.finished)
            continue;
        int waitStatus = 0;
        if (waitChild(pid, waitStatus, WNOHANG) <= 0)
            continue;
        entry.status = waitStatus;
        entry.finished = 1;
        if (!WIFEXITED(waitStatus) && !WIFSIGNALED(waitStatus))
            continue;
        terminated = terminated + 1;
        const char wakeUp = 't';
        while (::write(control.writeEnd.get(), &wakeUp, 1) == -1 && errno == EINTR) {
        }
    }
}

} // namespace korvo::process
