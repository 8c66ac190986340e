#include "process/ProcessLaunch.h"

#include "process/PipeOwner.h"
#include "utils/Exceptions.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fcntl.h>
#include <iostream>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace korvo::process {

// What the child needs between fork and exec; the descriptors are the ones
// that become its stdin, stdout and stderr.
struct ProcessLaunch::ChildSetup {
    char const* const* argv;
    char const* file;
    char const* cwd;
    char const* const* envp;
    bool closeDescriptors;
    bool searchPath;
    bool newSession;
    const boost::function<void()>& preExec;
    bool stderrAsStdout;
    FdOwner in;
    FdOwner out;
    FdOwner err;
};

namespace {

const int exitUnknownError = 65;
const int exitStdException = 66;
const int exitSystemError = 67;
const std::size_t controlChunk = 1024;

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

// Sets up the child's side of one standard descriptor; the parent's side of
// a new pipe goes into parentEnd.
void prepare(int spec, bool childReads, FdOwner& childSide, FdOwner& parentEnd,
             const char* devNullFailure, const char* pipeFailure) {
    if (spec >= 0) {
        childSide.borrow(spec);
    } else if (spec == FD_DEVNULL) {
        childSide.seize(openDevNull(childReads ? O_RDONLY : O_WRONLY, devNullFailure));
    } else if (spec == FD_PIPE) {
        PipeOwner pipe;
        pipe.open(pipeFailure);
        childSide.seize((childReads ? pipe.readEnd : pipe.writeEnd).release());
        parentEnd.seize((childReads ? pipe.writeEnd : pipe.readEnd).release());
    }
}

int parseCode(const std::string& text) {
    errno = 0;
    char* end = nullptr;
    const long code = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno == ERANGE || code < INT_MIN || code > INT_MAX)
        return EINVAL;
    return static_cast<int>(code);
}

// Turns the child's records back into the exception it reported; returns
// when there is none (the exec succeeded).
void rethrowChildException(const std::vector<std::string>& records) {
    std::string type;
    std::string message;
    int code = 0;
    bool typed = false;
    for (const std::string& record : records) {
        const std::string tag = record.substr(0, 4);
        const std::string content = record.size() > 4 ? record.substr(4) : std::string();
        if (tag == "ET: ") {
            type = content;
            typed = true;
        } else if (tag == "EM: ") {
            message = content;
        } else if (tag == "EC: ") {
            code = parseCode(content);
        } else {
            std::clog << "child output: " << record << std::endl;
        }
    }
    if (!typed)
        return;
    if (message.empty())
        message = "an error in child process";
    if (type == "SystemError")
        throw SystemError(message, code);
    if (type == "std::runtime_error")
        throw std::runtime_error(message);
    if (type == "std::exception")
        throw std::exception();
    throw std::bad_exception();
}

// --- Child side: nothing below may unwind into the caller's code. ---

void writeAll(int fd, const std::string& data) {
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t written = ::write(fd, data.data() + done, data.size() - done);
        if (written == -1 && errno == EINTR)
            continue;
        if (written <= 0)
            return;
        done += static_cast<std::size_t>(written);
    }
}

void writeRecord(int fd, const char* tag, const std::string& content) {
    writeAll(fd, std::string(tag) + content + '\0');
}

void writeException(int fd, const char* type, const std::string& message) {
    if (fd < 0)
        return;
    writeRecord(fd, "ET: ", type);
    writeRecord(fd, "EM: ", message);
}

int throwStdException(int fd, const char* type, const std::string& message) {
    writeException(fd, type, message);
    return exitStdException;
}

int throwSystemError(int fd, const char* type, const std::string& message, int code) {
    writeException(fd, type, message);
    if (fd >= 0) {
        char record[47];
        std::snprintf(record, sizeof record, "EC: %d", code);
        writeAll(fd, std::string(record) + '\0');
    }
    return exitSystemError;
}

void dupOnto(int fd, int target, const char* failure) {
    int result;
    do {
        result = ::dup2(fd, target);
    } while (result == -1 && errno == EINTR);
    if (result == -1)
        korvo::throwSystemError(failure);
}

// A descriptor among 0..2 that is meant for another standard descriptor
// would be overwritten by an earlier dup2; it moves above them first.
void liftLowDescriptor(FdOwner& fd, int target, const char* failure) {
    if (fd.get() < 0 || fd.get() >= target)
        return;
    const int lifted = ::fcntl(fd.get(), F_DUPFD_CLOEXEC, 3);
    if (lifted == -1)
        korvo::throwSystemError(failure);
    fd.seize(lifted);
}

// Makes fd the child's target descriptor and closes the original.
void redirect(FdOwner& fd, int target, const char* failure) {
    if (fd.get() < 0)
        return;
    if (fd.get() == target) {
        // Already in place; it must survive exec.
        if (fd.owns() && ::fcntl(target, F_SETFD, 0) == -1)
            korvo::throwSystemError(failure);
        fd.release();
        return;
    }
    dupOnto(fd.get(), target, failure);
    fd.close();
}

void closeOtherDescriptors(int keep) {
    const int savedErrno = errno;
    struct rlimit limit {};
    const rlim_t count = ::getrlimit(RLIMIT_NOFILE, &limit) == 0 ? limit.rlim_cur : 20;
    const int last = count > static_cast<rlim_t>(INT_MAX) ? INT_MAX : static_cast<int>(count);
    for (int fd = 3; fd < last; ++fd)
        if (fd != keep)
            ::close(fd);
    errno = savedErrno;
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
    ChildSetup setup{argv,
                     file,
                     cwd,
                     envp,
                     closeDescriptors,
                     searchPath,
                     newSession,
                     preExec,
                     stderrSpec == FD_AS_STDOUT,
                     {},
                     {},
                     {}};
    prepare(stdinSpec, true, setup.in, stdinEnd, "stdin /dev/null open", "stdin pipe");
    prepare(stdoutSpec, false, setup.out, stdoutEnd, "stdout /dev/null open", "stdout pipe");
    prepare(stderrSpec, false, setup.err, stderrEnd, "stderr /dev/null open", "stderr pipe");
    startChild(setup);
}

void ProcessLaunch::startChild(ChildSetup& setup) {
    {
        PipeOwner control;
        control.open("pipe");
        controlRead.seize(control.readEnd.release());
        controlWrite.seize(control.writeEnd.release());
    }
    // Buffered output would otherwise be written again by a child that
    // fails and exits.
    std::fflush(nullptr);
    pid = ::fork();
    if (pid == -1)
        korvo::throwSystemError("pipe");
    if (pid == 0)
        runChild(setup);
    controlWrite.close();
    setup.in.close();
    setup.out.close();
    setup.err.close();
}

void ProcessLaunch::runChild(ChildSetup& setup) {
    const int control = controlWrite.get();
    int status = exitUnknownError;
    try {
        controlRead.close();
        stdinEnd.close();
        stdoutEnd.close();
        stderrEnd.close();
        liftLowDescriptor(setup.out, STDOUT_FILENO, "stdout dup2");
        liftLowDescriptor(setup.err, STDERR_FILENO, "stderr dup2");
        redirect(setup.in, STDIN_FILENO, "stdin dup2");
        const bool stdoutRedirected = setup.out.get() != -1;
        redirect(setup.out, STDOUT_FILENO, "stdout dup2");
        if (setup.stderrAsStdout && stdoutRedirected)
            dupOnto(STDOUT_FILENO, STDERR_FILENO, "stderr dup2");
        redirect(setup.err, STDERR_FILENO, "stderr dup2");
        if (setup.cwd != nullptr) {
            int result;
            do {
                result = ::chdir(setup.cwd);
            } while (result == -1 && errno == EINTR);
            if (result == -1)
                korvo::throwSystemError("cwd chdir");
        }
        if (setup.closeDescriptors)
            closeOtherDescriptors(control);
        if (setup.newSession && ::setsid() == -1)
            korvo::throwSystemError("setsid");
        if (!setup.preExec.empty())
            setup.preExec();
        char* const* const argv = const_cast<char* const*>(setup.argv);
        if (setup.envp != nullptr) {
            ::execve(setup.file, argv, const_cast<char* const*>(setup.envp));
            korvo::throwSystemError("execve");
        }
        if (setup.searchPath) {
            ::execvp(setup.file, argv);
            korvo::throwSystemError("execvp");
        }
        ::execv(setup.file, argv);
        korvo::throwSystemError("execv");
    } catch (const SystemError& e) {
        status = throwSystemError(control, "SystemError", e.std::runtime_error::what(), e.code());
    } catch (const std::runtime_error& e) {
        status = throwStdException(control, "std::runtime_error", e.what());
    } catch (const std::exception& e) {
        status = throwStdException(control, "std::exception", e.what());
    } catch (...) {
        writeException(control, "std::runtime_error", "unknown error");
    }
    // Outside the handlers, so that no exception object is alive at exit.
    std::exit(status);
}

void ProcessLaunch::waitExec() {
    std::vector<std::string> records(1);
    char chunk[controlChunk];
    for (;;) {
        const ssize_t got = ::read(controlRead.get(), chunk, sizeof chunk);
        if (got == -1 && errno == EINTR)
            continue;
        if (got == -1)
            korvo::throwSystemError("control pipe read");
        if (got == 0)
            break;
        for (ssize_t i = 0; i < got; ++i) {
            if (chunk[i] == '\0')
                records.emplace_back();
            else
                records.back() += chunk[i];
        }
    }
    if (records.back().empty())
        records.pop_back();
    const int savedErrno = errno;
    controlRead.close_nothrow();
    errno = savedErrno;
    rethrowChildException(records);
}

int ProcessLaunch::waitExit() {
    int status = 0;
    pid_t result;
    do {
        result = ::waitpid(pid, &status, 0);
    } while (result == -1 && errno == EINTR);
    if (result <= 0)
        korvo::throwSystemError("unable to wait for child process exit");
    return status;
}

} // namespace korvo::process
