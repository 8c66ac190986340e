#include "process/Pipe.h"

#include "process/LaunchOne.h"
#include "process/ProcessSetCatcher.h"
#include "process/SigBlocker.h"
#include "utils/ChildCore.h"
#include "utils/Exceptions.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <csignal>
#include <exception>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <sys/select.h>
#include <sys/wait.h>
#include <unistd.h>

namespace korvo::process {

namespace {

const std::size_t readChunk = 1024;
// Chunks read from one ready output before select is asked again: one pipe
// buffer's worth, so a fast writer cannot starve the other descriptors.
const std::size_t readBurst = 64;
const int stdinPipeSize = 1024 * 1024;
const int maxDescriptors = 16384;

// A select(2) descriptor set for up to maxDescriptors descriptors (fd_set
// itself stops at 1024).
class DescriptorSet {
public:
    void add(int fd) {
        if (fd < 0 || fd >= maxDescriptors)
            throw SystemError("select", EINVAL);
        words[wordOf(fd)] |= bitOf(fd);
        limit = std::max(limit, fd + 1);
    }
    void remove(int fd) {
        if (fd >= 0 && fd < limit)
            words[wordOf(fd)] &= ~bitOf(fd);
    }
    bool has(int fd) const { return fd >= 0 && fd < limit && (words[wordOf(fd)] & bitOf(fd)) != 0; }
    // Copies the used part of other; select overwrites its arguments.
    void copyFrom(const DescriptorSet& other) {
        limit = other.limit;
        std::copy_n(other.words.begin(), wordOf(limit - 1) + 1, words.begin());
    }
    int size() const { return limit; }
    fd_set* raw() { return reinterpret_cast<fd_set*>(words.data()); }

private:
    using Word = unsigned long;
    static constexpr int wordBits = CHAR_BIT * sizeof(Word);
    static std::size_t wordOf(int fd) { return static_cast<std::size_t>(fd / wordBits); }
    static Word bitOf(int fd) { return Word{1} << (fd % wordBits); }

    std::array<Word, maxDescriptors / wordBits> words{};
    int limit = 0;
};

void makeNonBlocking(int fd) {
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags == -1 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == -1)
        throwSystemError("fcntl");
}

// Writes what a non-blocking descriptor takes now, halving the piece while
// the pipe has no room for it. Returns the number of bytes written.
std::size_t nonblock_write(int fd, const char* data, std::size_t length) {
    const int savedErrno = errno;
    if (length == 0)
        throw SystemError("write", EINVAL);
    for (;;) {
        const ssize_t written = ::write(fd, data, length);
        if (written >= 0) {
            errno = savedErrno;
            return static_cast<std::size_t>(written);
        }
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN && length > 1) {
            length /= 2;
            continue;
        }
        throwSystemError("write");
    }
}

void collectOutput(std::string& target, const std::vector<char>& chunk) {
    target.append(chunk.begin(), chunk.end());
}

// The output descriptors still being read and where their data goes.
class OutputChannelsHandler {
public:
    void add(FdOwner& fd, const Receiver& receiver, DescriptorSet& readSet) {
        makeNonBlocking(fd.get());
        readSet.add(fd.get());
        outputs.push_back(Output{&fd, receiver.empty() ? nullptr : &receiver});
    }

    // Reads once from every output that select found readable.
    void readReady(const DescriptorSet& ready, DescriptorSet& readSet) {
        for (Output& output : outputs)
            if (ready.has(output.fd->get()))
                for (std::size_t i = 0; i < readBurst && handleSingleOutput(output, &readSet);
                     ++i) {
                }
    }

    // Reads what is left in every open output, then closes it.
    void drain() {
        for (Output& output : outputs) {
            while (output.fd->get() >= 0 && handleSingleOutput(output, nullptr)) {
            }
            output.fd->close();
        }
    }

private:
    struct Output {
        FdOwner* fd;
        const Receiver* receiver;
    };

    // One read of at most readChunk bytes; true when data arrived.
    bool handleSingleOutput(Output& output, DescriptorSet* readSet) {
        buffer.resize(readChunk);
        ssize_t got;
        do {
            got = ::read(output.fd->get(), buffer.data(), readChunk);
        } while (got == -1 && errno == EINTR);
        if (got == -1 && errno == EAGAIN)
            return false;
        if (got == -1)
            throwSystemError("read");
        if (got == 0) {
            if (readSet != nullptr)
                readSet->remove(output.fd->get());
            const int savedErrno = errno;
            output.fd->close();
            errno = savedErrno;
            return false;
        }
        buffer.resize(static_cast<std::size_t>(got));
        if (output.receiver != nullptr)
            (*output.receiver)(buffer);
        return true;
    }

    std::vector<Output> outputs;
    std::vector<char> buffer;
};

bool sigpipePending() {
    sigset_t pending;
    return ::sigpending(&pending) == 0 && ::sigismember(&pending, SIGPIPE) == 1;
}

// Keeps SIGPIPE from killing the tool while it writes to a child that may
// have gone: the signal is blocked, and one raised meanwhile by the tool's
// own writes is discarded before the mask is restored.
class SigpipeShield {
public:
    SigpipeShield() : wasPending(sigpipePending()) { blocker.block(SIGPIPE); }
    ~SigpipeShield() {
        if (wasPending || !sigpipePending())
            return;
        const int savedErrno = errno;
        sigset_t pipeOnly;
        ::sigemptyset(&pipeOnly);
        ::sigaddset(&pipeOnly, SIGPIPE);
        const struct timespec noWait {};
        while (::sigtimedwait(&pipeOnly, nullptr, &noWait) == -1 && errno == EINTR) {
        }
        errno = savedErrno;
    }

private:
    const bool wasPending;
    SigBlocker blocker;
};

// The hook a pipe process really runs: the signal mask of the caller comes
// back first (the launch happens with SIGCHLD blocked), then the process's
// own hook.
boost::function<void()> restoringMask(const sigset_t& mask, const boost::function<void()>& hook) {
    return [mask, hook] {
        if (::sigprocmask(SIG_SETMASK, &mask, nullptr) != 0)
            throwSystemError("restore sigprocmask");
        if (!hook.empty())
            hook();
    };
}

bool terminated(int status) {
    return WIFEXITED(status) || WIFSIGNALED(status);
}

// Feeds the first process's stdin from the feeder, a buffer at a time.
class StdinFeeder {
public:
    StdinFeeder(FdOwner& input, const Feeder& feeder) : input(input), feeder(feeder) {}

    bool active() const { return feeding; }
    int fd() const { return input.get(); }

    // Refills the buffer when it has been written and puts stdin into the
    // write set while something is left to write.
    void prepare(DescriptorSet& writeSet) {
        if (written == buffer.size() && more) {
            buffer.clear();
            more = feeder(buffer);
            written = 0;
        }
        if (written != buffer.size()) {
            writeSet.add(input.get());
            return;
        }
        writeSet.remove(input.get());
        if (!more)
            stop(writeSet);
    }

    void write(DescriptorSet& writeSet) {
        std::size_t count;
        try {
            count = nonblock_write(input.get(), buffer.data() + written, buffer.size() - written);
        } catch (const SystemError& e) {
            // The child closed its stdin (or exited): nobody reads the rest.
            if (e.code() != EPIPE)
                throw;
            count = 0;
        }
        if (count == 0)
            stop(writeSet);
        else
            written += count;
    }

    void stop(DescriptorSet& writeSet) {
        writeSet.remove(input.get());
        input.close_nothrow();
        feeding = false;
    }

private:
    FdOwner& input;
    const Feeder& feeder;
    std::vector<char> buffer;
    std::size_t written = 0;
    bool more = true;
    bool feeding = true;
};

// Reaps the children of a run that is left by an exception (a launch that
// failed, a receiver or feeder that threw, a failed select), so that none
// of them outlives the run as a zombie or keeps writing to a table. The
// pipes to each child are closed and the child is terminated: SIGTERM, at
// most two seconds to end, then SIGKILL. A child the catcher has already
// reaped is left alone; SIGCHLD stays blocked meanwhile, so the catcher
// cannot reap one while it is being waited for here. On a normal return
// every child has been counted and the reaper does nothing.
class ChildReaper {
public:
    ChildReaper(const std::vector<std::unique_ptr<ProcessLaunch>>& launched,
                const ProcessSetCatcher& catcher)
        : launched(launched), catcher(catcher), uncaught(std::uncaught_exceptions()) {}
    ChildReaper(const ChildReaper&) = delete;
    ChildReaper& operator=(const ChildReaper&) = delete;
    ~ChildReaper() {
        if (std::uncaught_exceptions() == uncaught)
            return;
        SigBlocker blocker;
        blocker.block(SIGCHLD);
        for (const std::unique_ptr<ProcessLaunch>& child : launched)
            reap(*child);
    }

private:
    void reap(ProcessLaunch& child) const {
        if (reapedByCatcher(child.getPid()))
            return;
        child.stdinFd().close_nothrow();
        child.stdoutFd().close_nothrow();
        child.stderrFd().close_nothrow();
        terminateChild(child.getPid());
    }

    // A child whose exec failed never got registered; only we can reap it.
    bool reapedByCatcher(int pid) const {
        try {
            return catcher.processStatus(pid).finished;
        } catch (const std::out_of_range&) {
            return false;
        }
    }

    const std::vector<std::unique_ptr<ProcessLaunch>>& launched;
    const ProcessSetCatcher& catcher;
    const int uncaught;
};

// waitExec, with the program named when the exec step itself failed: the
// child reports only the step ("execv") and its errno.
void waitExecOf(ProcessLaunch& launch, const std::string& program) {
    try {
        launch.waitExec();
    } catch (const SystemError& e) {
        const std::string step = e.std::runtime_error::what();
        if (step != "execv" && step != "execvp" && step != "execve")
            throw;
        throw SystemError(step + " " + program, e.code());
    }
}

} // namespace

Pipe::Pipe(const Parameters<PipeProcessFlags>& parameters) {
    processes.push_back(parameters);
}

Receiver makeStringReceiver(std::string& target) {
    return [&target](const std::vector<char>& chunk) { collectOutput(target, chunk); };
}

void Pipe::inheritFlags() {
    for (Parameters<PipeProcessFlags>& process : processes) {
        if (process.workingDirectory.empty())
            process.workingDirectory = flags.workingDirectory;
        if (process.environment == nullptr)
            process.environment = flags.environment;
        if (flags.closeDescriptors)
            process.closeDescriptors = true;
        if (process.preExec.empty())
            process.preExec = flags.preExec;
        if (process.stderrChannel.fd == FD_UNSET)
            process.stderrChannel = flags.stderrChannel;
        if (process.exitCallback.empty())
            process.exitCallback = flags.exitCallback;
    }
}

void Pipe::launchAll(Launches& launched, ProcessSetCatcher& catcher, const sigset_t& mask) {
    const std::size_t last = processes.size() - 1;
    for (std::size_t i = 0; i <= last; ++i) {
        Parameters<PipeProcessFlags> process = processes[i];
        process.preExec = restoringMask(mask, processes[i].preExec);
        const int stdinSpec = i == 0 ? flags.stdinChannel.fd : launched[i - 1]->stdoutFd().get();
        const int stdoutSpec = i == last ? flags.stdoutChannel.fd : FD_PIPE;
        launched.push_back(launchOne(process, stdinSpec, stdoutSpec));
        if (i > 0)
            launched[i - 1]->stdoutFd().close();
        waitExecOf(*launched[i], process.arguments.front());
        catcher.registerChild(launched[i]->getPid());
        statuses.push_back(ProcessStatus{0, -1});
    }
}

int Pipe::run() {
    if (!statuses.empty())
        throw std::logic_error("the pipe has been launched already");
    if (processes.empty())
        throw std::logic_error("No processes to launch were assigned so far");
    inheritFlags();
    // Gives the caller its own signal mask back when the run ends.
    SigBlocker callerMask;
    Launches launched;
    ProcessSetCatcher catcher;
    const ChildReaper reaper(launched, catcher);
    // No child may be reaped before its pid is in the catcher.
    callerMask.block(SIGCHLD);
    catcher.install();
    launchAll(launched, catcher, callerMask.savedMask());
    // The loop learns of terminations only through the catcher's handler,
    // so SIGCHLD must get through even if the caller had it blocked.
    callerMask.unblock(SIGCHLD);

    DescriptorSet readSet;
    DescriptorSet writeSet;
    std::optional<SigpipeShield> shield;
    StdinFeeder feeder(launched.front()->stdinFd(), flags.stdinChannel.function);
    if (flags.stdinChannel.fd == FD_PIPE && !flags.stdinChannel.function.empty()) {
        makeNonBlocking(feeder.fd());
        // A larger pipe takes whole feeder chunks while the child catches
        // up; the default size is kept when the system refuses.
        ::fcntl(feeder.fd(), F_SETPIPE_SZ, stdinPipeSize);
        shield.emplace();
    } else {
        feeder.stop(writeSet);
    }
    readSet.add(catcher.controlFd());
    OutputChannelsHandler outputs;
    if (flags.stdoutChannel.fd == FD_PIPE)
        outputs.add(launched.back()->stdoutFd(), flags.stdoutChannel.function, readSet);
    for (std::size_t i = 0; i < processes.size(); ++i)
        if (processes[i].stderrChannel.fd == FD_PIPE)
            outputs.add(launched[i]->stderrFd(), processes[i].stderrChannel.function, readSet);

    std::size_t counted = 0;
    DescriptorSet readable;
    DescriptorSet writable;
    while (counted < processes.size()) {
        if (feeder.active())
            feeder.prepare(writeSet);
        readable.copyFrom(readSet);
        writable.copyFrom(writeSet);
        int ready;
        do {
            ready = ::select(std::max(readable.size(), writable.size()), readable.raw(),
                             writable.raw(), nullptr, nullptr);
        } while (ready == -1 && errno == EINTR);
        if (ready == -1)
            throwSystemError("select");
        if (readable.has(catcher.controlFd())) {
            catcher.clear_control();
            counted += collectTerminations(launched, catcher);
            if (statuses.front().finished && feeder.active())
                feeder.stop(writeSet);
        }
        if (feeder.active() && writable.has(feeder.fd()))
            feeder.write(writeSet);
        outputs.readReady(readable, readSet);
    }
    outputs.drain();
    catcher.remove(false);
    return statuses.back().status;
}

std::size_t Pipe::collectTerminations(const Launches& launched, const ProcessSetCatcher& catcher) {
    std::size_t count = 0;
    for (std::size_t i = 0; i < statuses.size(); ++i) {
        if (statuses[i].finished)
            continue;
        const ProcessStatus reported = catcher.processStatus(launched[i]->getPid());
        if (!reported.finished || !terminated(reported.status))
            continue;
        statuses[i] = reported;
        if (!processes[i].exitCallback.empty())
            processes[i].exitCallback(i, reported.status);
        ++count;
    }
    return count;
}

} // namespace korvo::process
