// Running a program (or a chain of programs, each one's stdout feeding the
// next one's stdin) with everything that flows between the tool and the
// chain multiplexed in one select loop.
//
// Process model. run() blocks SIGCHLD, installs a ProcessSetCatcher,
// launches every process with ProcessLaunch (waitExec() after each, so a
// failed exec surfaces as the child's exception) and registers its pid;
// then it unblocks SIGCHLD (also when the caller had it blocked; the
// caller's mask comes back when run() ends) and loops in select(2): it feeds the first
// process's stdin from the stdin feeder through a non-blocking descriptor,
// hands every 1024-byte chunk of the last process's stdout and of each
// process's stderr to their receivers (up to one pipe buffer's worth per
// wake-up, so no output starves another), and learns of terminations
// through the catcher's self-pipe. When every process has terminated, whatever
// output is still buffered in the pipes is drained and run() returns the
// wait status of the last process. Judge it yourself (WIFEXITED and
// WEXITSTATUS == 0); a failing program is not an exception here. When
// run() is left by an exception (a failed launch, a throwing feeder or
// receiver), the pipes are closed and every child still running is sent
// SIGTERM, given at most two seconds, then SIGKILL, and reaped, so no child
// outlives the run.
//
// Usage (one postconf run, its output and error text collected):
//   Pipe pipe(Parameters<PipeProcessFlags>("/usr/sbin/postconf", "-h",
//             "myhostname", "", "", "", "", "", "", ""));
//   std::string out, err;
//   pipe.flags.stdoutChannel.fd = FD_PIPE;
//   pipe.flags.stdoutChannel.function = makeStringReceiver(out);
//   pipe.flags.stderrChannel.fd = FD_PIPE;
//   pipe.flags.stderrChannel.function = makeStringReceiver(err);
//   const int status = pipe.run();
// A feeder goes into flags.stdinChannel (fd FD_PIPE); FD_PIPE without a
// feeder gives the child an empty stdin.
//
// Pipe-wide flags are inherited by every process that left them unset:
// working directory, environment, close-descriptors (when set), hook,
// stderr channel (when the process's is FD_UNSET) and exit callback.
//
// Pitfalls.
// - Deadlocks cannot come from this loop: every pipe end it touches is
//   non-blocking and read or written only when select says so. They can
//   come from a feeder or receiver that blocks, or from a feeder that
//   returns an empty buffer while promising more (the loop then waits for
//   output or an exit that never comes).
// - A child that exits without reading all its input ends feeding; the
//   rest of the feeder's data is never asked for. Writing to it is never
//   fatal: SIGPIPE is held blocked while the loop writes (and discarded if
//   the loop raised it), so a broken pipe just ends feeding.
// - Signals: while run() is active, SIGCHLD belongs to the pipe's catcher,
//   which reaps only the pipe's own children; a receiver or feeder may run
//   other programs (fork_execv_*, ProcessLaunch) and wait for them itself.
//   Do not run() inside a SIGCHLD handler or while another pipe runs.
//   Children start with the signal mask the caller had before run().
// - Output that a grandchild keeps writing after the processes of the
//   pipe have exited is not waited for: draining stops at the first empty
//   read.
// - A Pipe runs once; a second run() raises std::logic_error.
//
// Failures: launch failures (ProcessLaunch and the child's own reports)
// propagate with the catcher removed and every launched process's pipe ends
// closed; a program that cannot be executed is named in the error
// ("execv /usr/sbin/postmap: Permission denied"); select, read, write and fcntl failures raise
// korvo::SystemError; misuse raises std::logic_error.
#ifndef KORVO_PROCESS_PIPE_H
#define KORVO_PROCESS_PIPE_H

#include "process/Channel.h"
#include "process/Parameters.h"
#include "process/ProcessFlags.h"
#include "process/ProcessStatus.h"

#include <csignal>
#include <memory>
#include <string>
#include <vector>

namespace korvo::process {

class ProcessLaunch;
class ProcessSetCatcher;

struct PipeFlags : CommonFlags {
    InputChannel stdinChannel;
    OutputChannel stdoutChannel;
};

class Pipe {
public:
    // A pipe holding one process (a copy of parameters); every pipe-wide
    // flag is unset.
    explicit Pipe(const Parameters<PipeProcessFlags>& parameters);
    virtual ~Pipe() = default;

    // Launches, feeds, collects and waits; returns the last process's wait
    // status.
    int run();

    // The path of the last process's program (its argv[0]), the one whose
    // status run() returns.
    const std::string& lastProgram() const { return processes.back().arguments.front(); }

    // Pipe-wide settings; set them before run().
    PipeFlags flags;

protected:
    std::vector<Parameters<PipeProcessFlags>> processes;
    std::vector<ProcessStatus> statuses;

private:
    using Launches = std::vector<std::unique_ptr<ProcessLaunch>>;

    void inheritFlags();
    void launchAll(Launches& launched, ProcessSetCatcher& catcher, const sigset_t& mask);
    // Records the processes that terminated since the last call; returns
    // how many did.
    std::size_t collectTerminations(const Launches& launched, const ProcessSetCatcher& catcher);
};

// A receiver that appends every chunk to target.
Receiver makeStringReceiver(std::string& target);

} // namespace korvo::process

#endif
