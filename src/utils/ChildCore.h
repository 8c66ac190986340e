// One child process, from fork to exec, for every part of the tool that runs
// programs: the process layer's ProcessLaunch (and through it Pipe and the
// Postfix service control), the fork_execv_* runners and the service
// scripts of the function library.
//
// startChild() forks. The child, in this order: puts the requested
// descriptors on 0, 1 and 2 (ChildPlan::stdio), changes directory, closes
// every other descriptor when asked, starts a new session when asked, sets
// the signal mask the program is to start with, runs the optional hook and
// execs. When a step fails or the hook throws, the child writes an error
// record to a private close-on-exec control pipe and ends with _exit: no
// exit handler, static destructor or buffered stream of the parent runs or
// is flushed in it, so nothing the parent had not written yet comes out
// twice. A successful exec closes the control pipe; readChildError() in the
// parent reads it to its end and gives back the child's error, if any.
//
// The control pipe carries NUL-terminated records: "ET: " and the error's
// type ("SystemError" for a failed step or a korvo::SystemError of the hook,
// "std::runtime_error", "std::exception"), "EM: " and the message (the step:
// "stdin dup2", "stdout dup2", "stderr dup2", "stdin /dev/null open", ...,
// "cwd chdir", "setsid", "sigprocmask", "execve", "execvp", "execv"; or the
// hook exception's text), and for system errors "EC: " and the errno.
//
// Reaping rule: a child is waited for by its own pid only (waitChild),
// never with waitpid(-1), by whoever started it; the SIGCHLD catcher of a
// running Pipe reaps only the pids it registered. Runners can therefore
// nest: a receiver of a running Pipe may call fork_execv_getout.
//
// ChildProcess owns one started child: its destructor terminates (SIGTERM,
// at most two seconds' grace, then SIGKILL) and reaps a child that was
// neither reaped nor released. Failures of the parent's side raise
// korvo::SystemError naming the operation and the errno.
//
// Use:
//   ChildPlan plan;
//   plan.argv = argv; plan.file = "/usr/bin/prog";
//   plan.stdio[1] = pipeWriteEnd;
//   ChildProcess child(plan);
//   if (const std::optional<ChildError> error = child.waitExec()) ...;
//   const int status = child.wait();
#ifndef KORVO_UTILS_CHILDCORE_H
#define KORVO_UTILS_CHILDCORE_H

#include "utils/FdOwner.h"

#include <chrono>
#include <csignal>
#include <functional>
#include <optional>
#include <string>
#include <sys/types.h>

namespace korvo {

// ChildPlan::stdio values besides real descriptors.
constexpr int CHILD_KEEP = -1;      // the child keeps the parent's descriptor
constexpr int CHILD_DEVNULL = -2;   // /dev/null, opened read-write in the child
constexpr int CHILD_AS_STDOUT = -3; // stderr only: the child's stdout as set up

// Exit statuses of a child whose set-up failed, unless the plan says
// otherwise.
constexpr int CHILD_UNKNOWN_ERROR = 65;
constexpr int CHILD_STD_EXCEPTION = 66;
constexpr int CHILD_SYSTEM_ERROR = 67;

struct ChildError {
    std::string type;
    std::string message;
    int code = 0; // errno of a system error, else 0
};

struct ChildPlan {
    char const* const* argv = nullptr; // null-terminated
    const char* file = nullptr;
    char const* const* envp = nullptr; // null: the parent's environment
    bool searchPath = false;           // execvp instead of execv (without envp)
    const char* cwd = nullptr;         // null: stay
    bool closeDescriptors = false;     // close everything from 3 up
    bool newSession = false;
    // What becomes the child's 0, 1 and 2: a descriptor (its own number
    // leaves the stream as it is) or one of the CHILD_* values.
    int stdio[3] = {CHILD_KEEP, CHILD_KEEP, CHILD_KEEP};
    // The mask the program starts with; null keeps the one at fork time.
    const sigset_t* signalMask = nullptr;
    // Runs in the child just before exec; may throw.
    std::function<void()> preExec;
    // The child's exit status after a failure; null gives 67 for a system
    // error, 66 for another standard exception, 65 for anything else.
    int (*failureStatus)(const ChildError&) = nullptr;
};

// Forks and carries out plan in the child. Returns the child's pid; the
// control pipe's read end goes to controlRead. korvo::SystemError
// failureMessage when the control pipe or the fork fails.
pid_t startChild(const ChildPlan& plan, FdOwner& controlRead, const std::string& failureMessage);

// Reads the control pipe to its end and closes it: the child's error, or
// nothing when the exec succeeded. Records of no known tag are handed to
// otherRecord when given. korvo::SystemError "control pipe read".
std::optional<ChildError>
readChildError(FdOwner& controlRead,
               const std::function<void(const std::string&)>& otherRecord = {});

// waitpid(pid, &status, options), retried on EINTR.
pid_t waitChild(pid_t pid, int& status, int options);

// SIGTERM (and SIGCONT, so a stopped child can act on it), up to grace
// for the child to end, then SIGKILL; reaps it. Errors are ignored: the
// child may be gone already.
void terminateChild(pid_t pid, std::chrono::milliseconds grace = std::chrono::seconds(2));

class ChildProcess {
public:
    explicit ChildProcess(const ChildPlan& plan, const std::string& failureMessage = "fork");
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }
    std::optional<ChildError> waitExec() { return readChildError(control_); }
    // Blocks until the child ends (or, with WUNTRACED, stops); its raw wait
    // status. korvo::SystemError "waitpid".
    int wait(int options = 0);
    // Without blocking: true and the status once the child has ended.
    bool tryWait(int& status);
    // Gives the child up: whoever holds the pid reaps it.
    pid_t release();

private:
    void noteStatus(int status);

    FdOwner control_;
    pid_t pid_ = -1;
};

} // namespace korvo

#endif
