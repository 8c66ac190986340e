#include "utils/ForkExec.h"

#include "utils/Logging.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kPollMillis = 1000;
constexpr std::size_t kGrowBytes = 4096;

// Owns one descriptor of the parent.
class Descriptor {
public:
    Descriptor() = default;
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() { reset(); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    int get() const { return fd_; }
    bool isOpen() const { return fd_ >= 0; }
    void reset() {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }
    void adopt(int fd) {
        reset();
        fd_ = fd;
    }

private:
    int fd_ = -1;
};

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
    Descriptor readEnd;
    CaptureBuffer buffer;
};

// In the child: moves every descriptor the child needs above 2 first, so that
// no assignment can overwrite the source of another, then puts them in place.
void installStreams(const int wanted[3]) {
    int sources[3];
    for (int stream = 0; stream < 3; ++stream) {
        sources[stream] = wanted[stream];
        if (wanted[stream] == stream)
            continue;
        const int original = wanted[stream] == -1 ? ::open("/dev/null", O_RDWR) : wanted[stream];
        sources[stream] = original < 0 ? -1 : ::fcntl(original, F_DUPFD, 3);
        if (sources[stream] < 0) {
            std::fprintf(stderr, "fork_execv: dup() failed: %s\n", std::strerror(errno));
            ::_exit(255);
        }
    }
    for (int stream = 0; stream < 3; ++stream) {
        if (sources[stream] != stream && ::dup2(sources[stream], stream) < 0) {
            std::fprintf(stderr, "fork_execv: dup() failed: %s\n", std::strerror(errno));
            ::_exit(255);
        }
    }
}

void closeDescriptorsFrom(int first) {
    if (::close_range(static_cast<unsigned>(first), ~0U, 0) == 0)
        return;
    const int tableSize = ::getdtablesize();
    for (int fd = first; fd < tableSize; ++fd)
        ::close(fd);
}

int decodeStatus(int status) {
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Waits for pid; with WNOHANG, false while it still runs.
bool reap(pid_t pid, int options, int& result) {
    int status = 0;
    pid_t waited;
    do {
        waited = ::waitpid(pid, &status, options);
    } while (waited < 0 && errno == EINTR);
    if (waited == 0)
        return false;
    result = waited < 0 ? -1 : decodeStatus(status);
    return true;
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
        stream.readEnd.reset();
        return;
    }
}

// Collects the streams until both are closed or the child is seen to have
// ended, then makes sure the child is waited for.
int collect(pid_t pid, std::vector<CapturedStream*>& streams, const char* who) {
    int result = -1;
    bool reaped = false;
    for (;;) {
        std::vector<pollfd> watched;
        std::vector<CapturedStream*> owners;
        for (CapturedStream* stream : streams) {
            if (stream->readEnd.isOpen()) {
                watched.push_back(pollfd{stream->readEnd.get(), POLLIN, 0});
                owners.push_back(stream);
            }
        }
        if (watched.empty())
            break;
        const int ready = ::poll(watched.data(), watched.size(), kPollMillis);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready == 0 && !reap(pid, WNOHANG, result))
            continue;
        if (ready <= 0) {
            // The child has ended (or polling failed): take what it wrote
            // last, but do not wait for whatever else still holds the pipes.
            reaped = ready == 0;
            for (CapturedStream* stream : owners) {
                if (reaped)
                    drain(*stream, who);
                stream->readEnd.reset();
            }
            continue;
        }
        for (std::size_t i = 0; i < watched.size(); ++i) {
            if (watched[i].revents != 0)
                drain(*owners[i], who);
        }
    }
    if (!reaped)
        reap(pid, 0, result);
    return result;
}

// One pipe whose read end does not block; the write end is for the child.
void openCapturePipe(CapturedStream& stream, Descriptor& writeEnd, const char* who) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        messlog2(1, 0, "%s: pipe() failed", who);
    stream.readEnd.adopt(ends[0]);
    writeEnd.adopt(ends[1]);
    const int flags = ::fcntl(ends[0], F_GETFL);
    if (flags < 0 || ::fcntl(ends[0], F_SETFL, flags | O_NONBLOCK) != 0)
        messlog2(1, 0, "%s: fcntl(O_NONBLOCK) failed", who);
}

} // namespace

pid_t fork_execv_pipes(int stdinFd, int stdoutFd, int stderrFd, const char* path,
                       char* const argv[]) {
    const pid_t pid = ::fork();
    if (pid < 0)
        messlog2(1, 0, "fork_execv_pipes: fork() failed");
    if (pid > 0)
        return pid;
    const int wanted[3] = {stdinFd, stdoutFd, stderrFd};
    installStreams(wanted);
    closeDescriptorsFrom(3);
    ::execv(path, argv);
    std::fprintf(stderr, "fork_execv: execv(\"%s\") failed: %s\n", path, std::strerror(errno));
    ::_exit(255);
}

int fork_execv_getouterr(char** out, char** err, const char* path, char* const argv[]) {
    static const char* const who = "fork_execv_getouterr";
    CapturedStream output;
    CapturedStream errors;
    pid_t pid;
    {
        Descriptor outWrite;
        Descriptor errWrite;
        openCapturePipe(output, outWrite, who);
        openCapturePipe(errors, errWrite, who);
        pid = fork_execv_pipes(0, outWrite.get(), errWrite.get(), path, argv);
    }
    std::vector<CapturedStream*> streams{&output, &errors};
    const int status = collect(pid, streams, who);
    *out = output.buffer.release();
    *err = errors.buffer.release();
    return status;
}

int fork_execv_getout(char** out, const char* path, char* const argv[]) {
    static const char* const who = "fork_execv_getout";
    CapturedStream output;
    pid_t pid;
    {
        Descriptor outWrite;
        openCapturePipe(output, outWrite, who);
        pid = fork_execv_pipes(0, outWrite.get(), 2, path, argv);
    }
    std::vector<CapturedStream*> streams{&output};
    const int status = collect(pid, streams, who);
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
