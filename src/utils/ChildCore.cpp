#include "utils/ChildCore.h"

#include "utils/Exceptions.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace korvo {

namespace {

const std::size_t controlChunk = 1024;
const char* const streamNames[3] = {"stdin", "stdout", "stderr"};

// --- Child side: runs between fork and exec and never returns. ---

// A failed step of the child's set-up.
struct StepFailure {
    std::string step;
    int code;
};

[[noreturn]] void failStep(const std::string& step) {
    throw StepFailure{step, errno};
}

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

void writeRecords(int fd, const ChildError& error) {
    std::string records = "ET: " + error.type + '\0' + "EM: " + error.message + '\0';
    if (error.type == "SystemError") {
        char code[47];
        std::snprintf(code, sizeof code, "EC: %d", error.code);
        records += code;
        records += '\0';
    }
    writeAll(fd, records);
}

// A descriptor of the parent that the child sets up on a low number must
// not be overwritten by an earlier dup2: it moves above 2 first.
int liftAbove2(int fd, const std::string& step) {
    const int lifted = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    if (lifted == -1)
        failStep(step);
    return lifted;
}

void installStdio(const int (&stdio)[3]) {
    int source[3];
    for (int stream = 0; stream < 3; ++stream) {
        source[stream] = stdio[stream];
        if (stdio[stream] == CHILD_DEVNULL) {
            do {
                source[stream] = ::open("/dev/null", O_RDWR | O_CLOEXEC);
            } while (source[stream] == -1 && errno == EINTR);
            if (source[stream] == -1)
                failStep(std::string(streamNames[stream]) + " /dev/null open");
        }
        if (source[stream] >= 0 && source[stream] < 3 && source[stream] != stream)
            source[stream] = liftAbove2(source[stream], std::string(streamNames[stream]) + " dup2");
    }
    for (int stream = 0; stream < 3; ++stream) {
        const std::string step = std::string(streamNames[stream]) + " dup2";
        if (stream == 2 && stdio[2] == CHILD_AS_STDOUT)
            source[2] = stdio[1] == CHILD_KEEP ? CHILD_KEEP : 1;
        if (source[stream] < 0)
            continue;
        if (source[stream] == stream) {
            // Already in place; it must survive exec. A stream the parent
            // has closed stays closed, as it would when kept.
            ::fcntl(stream, F_SETFD, 0);
            continue;
        }
        int result;
        do {
            result = ::dup2(source[stream], stream);
        } while (result == -1 && errno == EINTR);
        if (result == -1)
            failStep(step);
    }
}

void closeDescriptorsExcept(int keep) {
    const int savedErrno = errno;
    const unsigned first = 3;
    const unsigned kept = static_cast<unsigned>(keep);
    const bool closed = (kept <= first || ::close_range(first, kept - 1, 0) == 0) &&
                        ::close_range(kept + 1, ~0U, 0) == 0;
    if (!closed) {
        struct rlimit limit {};
        const rlim_t count = ::getrlimit(RLIMIT_NOFILE, &limit) == 0 ? limit.rlim_cur : 20;
        const int last = count > static_cast<rlim_t>(INT_MAX) ? INT_MAX : static_cast<int>(count);
        for (int fd = 3; fd < last; ++fd)
            if (fd != keep)
                ::close(fd);
    }
    errno = savedErrno;
}

[[noreturn]] void execProgram(const ChildPlan& plan) {
    char* const* const argv = const_cast<char* const*>(plan.argv);
    if (plan.envp != nullptr) {
        ::execve(plan.file, argv, const_cast<char* const*>(plan.envp));
        failStep("execve");
    }
    if (plan.searchPath) {
        ::execvp(plan.file, argv);
        failStep("execvp");
    }
    ::execv(plan.file, argv);
    failStep("execv");
}

[[noreturn]] void runPlan(const ChildPlan& plan, int control) {
    installStdio(plan.stdio);
    if (plan.cwd != nullptr) {
        int result;
        do {
            result = ::chdir(plan.cwd);
        } while (result == -1 && errno == EINTR);
        if (result == -1)
            failStep("cwd chdir");
    }
    if (plan.closeDescriptors)
        closeDescriptorsExcept(control);
    if (plan.newSession && ::setsid() == -1)
        failStep("setsid");
    if (plan.signalMask != nullptr && ::sigprocmask(SIG_SETMASK, plan.signalMask, nullptr) != 0)
        failStep("sigprocmask");
    if (plan.preExec)
        plan.preExec();
    execProgram(plan);
}

[[noreturn]] void runChild(const ChildPlan& plan, int control) {
    ChildError error;
    int status = CHILD_UNKNOWN_ERROR;
    try {
        // The control pipe must not sit where a standard descriptor goes.
        if (control < 3)
            control = liftAbove2(control, "control pipe close-on-exec fcntl");
        runPlan(plan, control);
    } catch (const StepFailure& e) {
        error = {"SystemError", e.step, e.code};
        status = CHILD_SYSTEM_ERROR;
    } catch (const SystemError& e) {
        error = {"SystemError", e.std::runtime_error::what(), e.code()};
        status = CHILD_SYSTEM_ERROR;
    } catch (const std::runtime_error& e) {
        error = {"std::runtime_error", e.what(), 0};
        status = CHILD_STD_EXCEPTION;
    } catch (const std::exception& e) {
        error = {"std::exception", e.what(), 0};
        status = CHILD_STD_EXCEPTION;
    } catch (...) {
        error = {"std::runtime_error", "unknown error", 0};
    }
    writeRecords(control, error);
    if (plan.failureStatus != nullptr)
        status = plan.failureStatus(error);
    ::_exit(status);
}

// --- Parent side. ---

int parseCode(const std::string& text) {
    errno = 0;
    char* end = nullptr;
    const long code = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno == ERANGE || code < INT_MIN || code > INT_MAX)
        return EINVAL;
    return static_cast<int>(code);
}

std::vector<std::string> readRecords(FdOwner& controlRead) {
    std::vector<std::string> records(1);
    char chunk[controlChunk];
    for (;;) {
        const ssize_t got = ::read(controlRead.get(), chunk, sizeof chunk);
        if (got == -1 && errno == EINTR)
            continue;
        if (got == -1)
            throwSystemError("control pipe read");
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
    return records;
}

} // namespace

pid_t startChild(const ChildPlan& plan, FdOwner& controlRead, const std::string& failureMessage) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        throwSystemError(failureMessage);
    FdOwner readEnd(ends[0]);
    FdOwner writeEnd(ends[1]);
    const pid_t pid = ::fork();
    if (pid == -1)
        throwSystemError(failureMessage);
    if (pid == 0)
        runChild(plan, writeEnd.get());
    writeEnd.close();
    controlRead.seize(readEnd.release());
    return pid;
}

std::optional<ChildError>
readChildError(FdOwner& controlRead, const std::function<void(const std::string&)>& otherRecord) {
    ChildError error;
    bool typed = false;
    for (const std::string& record : readRecords(controlRead)) {
        const std::string tag = record.substr(0, 4);
        const std::string content = record.size() > 4 ? record.substr(4) : std::string();
        if (tag == "ET: ") {
            error.type = content;
            typed = true;
        } else if (tag == "EM: ") {
            error.message = content;
        } else if (tag == "EC: ") {
            error.code = parseCode(content);
        } else if (otherRecord) {
            otherRecord(record);
        }
    }
    if (!typed)
        return std::nullopt;
    return error;
}

pid_t waitChild(pid_t pid, int& status, int options) {
    pid_t result;
    do {
        result = ::waitpid(pid, &status, options);
    } while (result == -1 && errno == EINTR);
    return result;
}

void terminateChild(pid_t pid, std::chrono::milliseconds grace) {
    const int savedErrno = errno;
    ::kill(pid, SIGTERM);
    ::kill(pid, SIGCONT);
    const auto deadline = std::chrono::steady_clock::now() + grace;
    int status = 0;
    pid_t result;
    while ((result = waitChild(pid, status, WNOHANG)) == 0 &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (result == 0) {
        ::kill(pid, SIGKILL);
        waitChild(pid, status, 0);
    }
    errno = savedErrno;
}

ChildProcess::ChildProcess(const ChildPlan& plan, const std::string& failureMessage)
    : pid_(startChild(plan, control_, failureMessage)) {}

ChildProcess::~ChildProcess() {
    if (pid_ > 0)
        terminateChild(pid_);
}

int ChildProcess::wait(int options) {
    int status = 0;
    if (waitChild(pid_, status, options) <= 0)
        throwSystemError("waitpid");
    noteStatus(status);
    return status;
}

bool ChildProcess::tryWait(int& status) {
    const pid_t result = waitChild(pid_, status, WNOHANG);
    if (result == 0)
        return false;
    if (result < 0)
        throwSystemError("waitpid");
    noteStatus(status);
    return true;
}

pid_t ChildProcess::release() {
    const pid_t pid = pid_;
    pid_ = -1;
    return pid;
}

void ChildProcess::noteStatus(int status) {
    if (WIFEXITED(status) || WIFSIGNALED(status))
        pid_ = -1;
}

} // namespace korvo
