// Blocks signals for the lifetime of a scope.
//
// block() adds one signal to the process's blocked set; the first call
// remembers the mask as it was, and the destructor puts that mask back.
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
    // The mask saved by the first block(); meaningful only after it.
    const sigset_t& savedMask() const { return saved; }

private:
    sigset_t saved{};
    bool blocked = false;
};

} // namespace korvo

#endif
