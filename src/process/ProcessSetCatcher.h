// Reaps the children of a running pipe from a SIGCHLD handler.
//
// While installed, the catcher's handler (SA_SIGINFO | SA_NOCLDSTOP) waits
// without blocking for each registered child that has not finished yet, by
// its pid (waitpid(pid, WNOHANG), never waitpid(-1)), records its wait
// status in a pid map and writes one byte to a non-blocking self-pipe per
// terminated child, so that a select loop that has the pipe's read end in
// its read set wakes up even when the signal arrived outside select. The
// handler allocates nothing and only touches map entries that already
// exist. Children that are not registered are left alone: whoever started
// them reaps them (see utils/ChildCore.h), so other program runs may nest
// inside a pipe's receivers. Register a child while SIGCHLD is blocked, or
// its termination signal may come before the pid is known and no later
// signal would wake the loop.
//
// At most one catcher is installed at a time (std::logic_error otherwise).
// remove() refuses, unless forced, while a registered child still runs;
// the destructor forces it only when an exception is propagating. System
// call failures raise korvo::SystemError.
#ifndef KORVO_PROCESS_PROCESSSETCATCHER_H
#define KORVO_PROCESS_PROCESSSETCATCHER_H

#include "process/PipeOwner.h"
#include "process/ProcessStatus.h"

#include <csignal>
#include <map>

namespace korvo::process {

class ProcessSetCatcher {
public:
    ProcessSetCatcher() = default;
    ProcessSetCatcher(const ProcessSetCatcher&) = delete;
    ProcessSetCatcher& operator=(const ProcessSetCatcher&) = delete;
    ~ProcessSetCatcher() noexcept(false);

    void install();
    void remove(bool force);

    // Starts tracking pid (not finished, status -1). Call with SIGCHLD
    // blocked.
    void registerChild(int pid);
    // The recorded wait status; std::out_of_range "no such pid".
    int status(int pid) const;
    // Finished flag and status; std::out_of_range "no such pid".
    ProcessStatus processStatus(int pid) const;

    // The descriptor that becomes readable after a termination.
    int controlFd() const { return control.readEnd.get(); }
    // Consumes every pending wake-up byte; returns how many there were.
    int clear_control();

private:
    static void childHandler(int signal, siginfo_t* info, void* context);
    void reapChildren();

    std::map<int, ProcessStatus> children;
    // Registered children that exited or were killed.
    volatile std::sig_atomic_t terminated = 0;
    struct sigaction previousAction {};
    PipeOwner control;
};

} // namespace korvo::process

#endif
