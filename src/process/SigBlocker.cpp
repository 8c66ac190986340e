#include "process/SigBlocker.h"

#include "utils/Exceptions.h"

#include <cerrno>
#include <exception>

namespace korvo {

SigBlocker::~SigBlocker() noexcept(false) {
    if (!blocked)
        return;
    const int savedErrno = errno;
    if (::sigprocmask(SIG_SETMASK, &saved, nullptr) == 0)
        return;
    if (std::uncaught_exceptions() > 0) {
        errno = savedErrno;
        return;
    }
    throwSystemError("restore sigprocmask");
}

void SigBlocker::block(int signal) {
    change(SIG_BLOCK, signal);
}

void SigBlocker::unblock(int signal) {
    change(SIG_UNBLOCK, signal);
}

void SigBlocker::change(int how, int signal) {
    sigset_t current;
    if (::sigprocmask(SIG_BLOCK, nullptr, &current) != 0)
        throwSystemError("get sigprocmask");
    if ((how == SIG_BLOCK ? ::sigaddset(&current, signal) : ::sigdelset(&current, signal)) != 0)
        throwSystemError("sigaddset");
    if (::sigprocmask(SIG_SETMASK, &current, blocked ? nullptr : &saved) != 0)
        throwSystemError("set sigprocmask");
    blocked = true;
}

} // namespace korvo
