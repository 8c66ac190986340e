#include "process/ProcessLaunch.h"

#include "process/PipeOwner.h"
#include "utils/ChildCore.h"
#include "utils/Exceptions.h"

#include <cerrno>
#include <exception>
#include <fcntl.h>
#include <iostream>
#include <optional>
#include <stdexcept>
#include <string>

namespace korvo::process {

namespace {

bool validSpec(int spec, bool isStderr) {
    return spec >= 0 || spec == FD_INHERIT || spec == FD_DEVNULL || spec == FD_PIPE ||
           (isStderr && spec == FD_AS_STDOUT);
}

int openDevNull(int mode, const char* failure) {
    int fd;
    do {
        fd = ::open("/dev/null", mode | O_CLOEXEC);
    } while (fd == -1 && errno == EINTR);
    if (fd == -1)
        korvo::throwSystemError(failure);
    return fd;
}

// Sets up the child's side of one standard descriptor (kept in childSide
// until the fork); the parent's side of a new pipe goes into parentEnd.
// Returns what the child is to put on the descriptor.
int prepare(int spec, bool childReads, FdOwner& childSide, FdOwner& parentEnd,
            const char* devNullFailure, const char* pipeFailure) {
    if (spec == FD_DEVNULL) {
        childSide.seize(openDevNull(childReads ? O_RDONLY : O_WRONLY, devNullFailure));
    } else if (spec == FD_PIPE) {
        PipeOwner pipe;
        pipe.open(pipeFailure);
        childSide.seize((childReads ? pipe.readEnd : pipe.writeEnd).release());
        parentEnd.seize((childReads ? pipe.writeEnd : pipe.readEnd).release());
    } else if (spec >= 0) {
        return spec;
    } else {
        return spec == FD_AS_STDOUT ? CHILD_AS_STDOUT : CHILD_KEEP;
    }
    return childSide.get();
}

// Turns what the child reported back into the exception it stood for.
[[noreturn]] void rethrow(ChildError error) {
    if (error.message.empty())
        error.message = "an error in child process";
    if (error.type == "SystemError")
        throw SystemError(error.message, error.code);
    if (error.type == "std::runtime_error")
        throw std::runtime_error(error.message);
    if (error.type == "std::exception")
        throw std::exception();
    throw std::bad_exception();
}

void logChildOutput(const std::string& record) {
    std::clog << "child output: " << record << std::endl;
}

} // namespace

ProcessLaunch::ProcessLaunch(char const* const* argv, char const* file, char const* cwd,
                             char const* const* envp, bool closeDescriptors, bool searchPath,
                             bool newSession, const boost::function<void()>& preExec, int stdinSpec,
                             int stdoutSpec, int stderrSpec) {
    if (!validSpec(stdinSpec, false))
        throw std::invalid_argument("invalid FD for stdin");
    if (!validSpec(stdoutSpec, false))
        throw std::invalid_argument("invalid FD for stdout");
    if (!validSpec(stderrSpec, true))
        throw std::invalid_argument("invalid FD for stderr");
    ChildPlan plan;
    plan.argv = argv;
    plan.file = file;
    plan.cwd = cwd;
    plan.envp = envp;
    plan.closeDescriptors = closeDescriptors;
    plan.searchPath = searchPath;
    plan.newSession = newSession;
    if (!preExec.empty())
        plan.preExec = preExec;
    // The child's ends, closed in the parent once the child has its copies.
    FdOwner in, out, err;
    plan.stdio[0] = prepare(stdinSpec, true, in, stdinEnd, "stdin /dev/null open", "stdin pipe");
    plan.stdio[1] =
        prepare(stdoutSpec, false, out, stdoutEnd, "stdout /dev/null open", "stdout pipe");
    plan.stdio[2] =
        prepare(stderrSpec, false, err, stderrEnd, "stderr /dev/null open", "stderr pipe");
    pid = startChild(plan, controlRead, "pipe");
}

void ProcessLaunch::waitExec() {
    if (const std::optional<ChildError> error = readChildError(controlRead, logChildOutput))
        rethrow(*error);
}

int ProcessLaunch::waitExit() {
    int status = 0;
    if (waitChild(pid, status, 0) <= 0)
        korvo::throwSystemError("unable to wait for child process exit");
    return status;
}

} // namespace korvo::process
