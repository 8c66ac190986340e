#include "utils/ForkExec.h"

#include "utils/ChildCore.h"
#include "utils/Exceptions.h"
#include "utils/Logging.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kPollMillis = 1000;
constexpr std::size_t kGrowBytes = 4096;

// A malloc'd buffer that grows while a pipe is read and is finally handed to
// the caller NUL-terminated.
class CaptureBuffer {
public:
    CaptureBuffer() = default;
    ~CaptureBuffer() { std::free(data_); }
    CaptureBuffer(const CaptureBuffer&) = delete;
    CaptureBuffer& operator=(const CaptureBuffer&) = delete;

    // Room for the next read, keeping one byte for the terminating NUL.
    char* room(std::size_t& length) {
        if (size_ - used_ <= 1) {
            auto* grown = static_cast<char*>(std::realloc(data_, size_ + kGrowBytes));
            if (grown == nullptr)
                messlog2(1, 0, "Cannot allocate memory");
            data_ = grown;
            size_ += kGrowBytes;
        }
        length = size_ - used_ - 1;
        return data_ + used_;
    }
    void commit(std::size_t length) { used_ += length; }

    // The text read, or null when nothing was; the buffer is the caller's.
    char* release() {
        if (used_ == 0)
            return nullptr;
        data_[used_] = '\0';
        char* const text = data_;
        data_ = nullptr;
        size_ = used_ = 0;
        return text;
    }

private:
    char* data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t used_ = 0;
};

// The parent's end of one captured stream.
struct CapturedStream {
    korvo::FdOwner readEnd;
    CaptureBuffer buffer;
};

int decodeStatus(int status) {
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Without blocking: true once the child has ended (or cannot be waited
// for, status then -1 as decoded).
bool tryReap(korvo::ChildProcess& child, int& status) {
    try {
        return child.tryWait(status);
    } catch (const korvo::SystemError&) {
        status = -1;
        return true;
    }
}

// The child's decoded status, blocking until it ends; -1 when it cannot
// be waited for.
int waitReporting(korvo::ChildProcess& child) {
    try {
        return decodeStatus(child.wait());
    } catch (const korvo::SystemError&) {
        return -1;
    }
}

// Reads what is there now; end of file or a read error closes the stream.
void drain(CapturedStream& stream, const char* who) {
    for (;;) {
        std::size_t length = 0;
        char* const at = stream.buffer.room(length);
        const ssize_t got = ::read(stream.readEnd.get(), at, length);
        if (got > 0) {
            stream.buffer.commit(static_cast<std::size_t>(got));
            continue;
        }
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        if (got < 0)
            std::fprintf(stderr, "%s: read(pipe) failed: %s\n", who, std::strerror(errno));
        stream.readEnd.close_nothrow();
        return;
    }
}

// What the child reported when its exec failed, written where its own
// standard error was to go, as the child would have written it.
void reportExecFailure(int stderrFd, const char* path, const korvo::ChildError& error) {
    if (stderrFd < 0)
        return;
    const char* const reason = std::strerror(error.code);
    if (error.message.compare(0, 4, "exec") == 0)
        ::dprintf(stderrFd, "fork_execv: execv(\"%s\") failed: %s\n", path, reason);
    else
        ::dprintf(stderrFd, "fork_execv: dup() failed: %s\n", reason);
}

int exitStatus255(const korvo::ChildError&) {
    return 255;
}

// Starts path with the three descriptors as its standard streams (-1:
// /dev/null) and every other descriptor closed; returns once the child has
// exec'd or failed.
std::unique_ptr<korvo::ChildProcess> startRunner(int stdinFd, int stdoutFd, int stderrFd,
                                                 const char* path, char* const argv[]) {
    korvo::ChildPlan plan;
    plan.argv = argv;
    plan.file = path;
    plan.closeDescriptors = true;
    const int wanted[3] = {stdinFd, stdoutFd, stderrFd};
    for (int stream = 0; stream < 3; ++stream)
        plan.stdio[stream] = wanted[stream] == -1 ? korvo::CHILD_DEVNULL : wanted[stream];
    plan.failureStatus = exitStatus255;
    std::unique_ptr<korvo::ChildProcess> child;
    try {
        child = std::make_unique<korvo::ChildProcess>(plan);
    } catch (const korvo::SystemError&) {
        messlog2(1, 0, "fork_execv_pipes: fork() failed");
    }
    try {
        if (const std::optional<korvo::ChildError> error = child->waitExec())
            reportExecFailure(stderrFd, path, *error);
    } catch (const korvo::SystemError&) {
        // Whether the exec worked shows in the child's status all the same.
    }
    return child;
}

// Collects the streams until both are closed or the child is seen to have
// ended, then makes sure the child is waited for.
int collect(korvo::ChildProcess& child, std::vector<CapturedStream*>& streams, const char* who) {
    int status = 0;
    bool reaped = false;
    for (;;) {
        std::vector<pollfd> watched;
        std::vector<CapturedStream*> owners;
        for (CapturedStream* stream : streams) {
            if (stream->readEnd.get() >= 0) {
                watched.push_back(pollfd{stream->readEnd.get(), POLLIN, 0});
                owners.push_back(stream);
            }
        }
        if (watched.empty())
            break;
        const int ready = ::poll(watched.data(), watched.size(), kPollMillis);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready == 0 && !tryReap(child, status))
            continue;
        if (ready <= 0) {
            // The child has ended (or polling failed): take what it wrote
            // last, but do not wait for whatever else still holds the pipes.
            reaped = ready == 0;
            for (CapturedStream* stream : owners) {
                if (reaped)
                    drain(*stream, who);
                stream->readEnd.close_nothrow();
            }
            continue;
        }
        for (std::size_t i = 0; i < watched.size(); ++i) {
            if (watched[i].revents != 0)
                drain(*owners[i], who);
        }
    }
    if (reaped)
        return decodeStatus(status);
    return waitReporting(child);
}

// One pipe whose read end does not block; the write end is for the child.
void openCapturePipe(CapturedStream& stream, korvo::FdOwner& writeEnd, const char* who) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        messlog2(1, 0, "%s: pipe() failed", who);
    stream.readEnd.seize(ends[0]);
    writeEnd.seize(ends[1]);
    const int flags = ::fcntl(ends[0], F_GETFL);
    if (flags < 0 || ::fcntl(ends[0], F_SETFL, flags | O_NONBLOCK) != 0)
        messlog2(1, 0, "%s: fcntl(O_NONBLOCK) failed", who);
}

} // namespace

pid_t fork_execv_pipes(int stdinFd, int stdoutFd, int stderrFd, const char* path,
                       char* const argv[]) {
    return startRunner(stdinFd, stdoutFd, stderrFd, path, argv)->release();
}

int fork_execv_getouterr(char** out, char** err, const char* path, char* const argv[]) {
    static const char* const who = "fork_execv_getouterr";
    CapturedStream output;
    CapturedStream errors;
    std::unique_ptr<korvo::ChildProcess> child;
    {
        korvo::FdOwner outWrite;
        korvo::FdOwner errWrite;
        openCapturePipe(output, outWrite, who);
        openCapturePipe(errors, errWrite, who);
        child = startRunner(0, outWrite.get(), errWrite.get(), path, argv);
    }
    std::vector<CapturedStream*> streams{&output, &errors};
    const int status = collect(*child, streams, who);
    *out = output.buffer.release();
    *err = errors.buffer.release();
    return status;
}

int fork_execv_getout(char** out, const char* path, char* const argv[]) {
    static const char* const who = "fork_execv_getout";
    CapturedStream output;
    std::unique_ptr<korvo::ChildProcess> child;
    {
        korvo::FdOwner outWrite;
        openCapturePipe(output, outWrite, who);
        child = startRunner(0, outWrite.get(), 2, path, argv);
    }
    std::vector<CapturedStream*> streams{&output};
    const int status = collect(*child, streams, who);
    *out = output.buffer.release();
    return status;
}

int fork_execl_getout(char** out, const char* path, const char* arg0, ...) {
    std::vector<char*> argv{const_cast<char*>(arg0)};
    va_list args;
    va_start(args, arg0);
    while (argv.back() != nullptr)
        argv.push_back(const_cast<char*>(va_arg(args, const char*)));
    va_end(args);
    return fork_execv_getout(out, path, argv.data());
}

int fork_execv_log(const char* path, char* const argv[], int quiet) {
    char* out = nullptr;
    char* err = nullptr;
    const int status = fork_execv_getouterr(&out, &err, path, argv);
    if (status != 0 && !quiet) {
        if (out != nullptr) {
            std::fputs(out, stderr);
            std::fflush(stderr);
        }
        // The child's status is the failure here, not whatever errno the
        // reading left behind.
        errno = 0;
        if (err != nullptr)
            messlog2(0, 0, "%s execution failed:\n%s", path, err);
        else
            messlog2(0, 0, "%s execution failed (no output)", path);
    }
    std::free(out);
    std::free(err);
    return status;
}
