// Blocks signals for the lifetime of a scope.
//
// block() adds one signal to the process's blocked set and unblock()
// removes one; the first call of either remembers the mask as it was, and
// the destructor puts that mask back.
// Failures raise korvo::SystemError ("get sigprocmask", "sigaddset", "set
// sigprocmask", "restore sigprocmask"); the destructor stays silent (errno
// kept) while another exception is propagating.
//
// Use: { SigBlocker blocker; blocker.block(SIGCHLD); ...launch... }
#ifndef KORVO_PROCESS_SIGBLOCKER_H
#define KORVO_PROCESS_SIGBLOCKER_H

#include <csignal>

namespace korvo {

class SigBlocker {
public:
    SigBlocker() = default;
    SigBlocker(const SigBlocker&) = delete;
    SigBlocker& operator=(const SigBlocker&) = delete;
    ~SigBlocker() noexcept(false);

    void block(int signal);
    // Takes signal out of the blocked set, even when it was blocked before
    // this blocker; the destructor blocks it again in that case.
    void unblock(int signal);
    // The mask saved by the first block(); meaningful only after it.
    const sigset_t& savedMask() const { return saved; }

private:
    void change(int how, int signal);

    sigset_t saved{};
    bool blocked = false;
};

} // namespace korvo

#endif
