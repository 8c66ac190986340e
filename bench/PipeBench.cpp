// Cost of the pipe machinery against bare system calls doing the same work
// in the same run: 100 MB read from a child's stdout in 1024-byte reads,
// 100 MB fed to a child's stdin in 64 KiB pieces, and one run of /bin/true.
// Transfers are compared by their best of several interleaved rounds,
// launches by the median of a thousand interleaved single runs.
#include "process/Pipe.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace korvo::process;

namespace {

const std::size_t totalBytes = 100u * 1024 * 1024;
const std::size_t readChunk = 1024;
const std::size_t feedChunk = 65536;
const int readRounds = 5;
const int feedRounds = 15;
const int launches = 1000;
const std::string totalText = std::to_string(totalBytes);

double seconds(const std::function<void()>& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void fail(const char* what) {
    std::perror(what);
    std::exit(2);
}

// fork, plumbing and exec of argv with plain calls; returns the pid.
pid_t bareStart(char* const* argv, int childStdin, int childStdout) {
    const pid_t pid = ::fork();
    if (pid == -1)
        fail("fork");
    if (pid == 0) {
        if (childStdin >= 0)
            ::dup2(childStdin, 0);
        if (childStdout >= 0)
            ::dup2(childStdout, 1);
        ::execv(argv[0], argv);
        ::_exit(127);
    }
    return pid;
}

void bareWait(pid_t pid) {
    int status;
    if (::waitpid(pid, &status, 0) != pid || status != 0)
        fail("bare child");
}

void check(int status, std::size_t bytes) {
    if (status != 0 || bytes != totalBytes) {
        std::fprintf(stderr, "transfer failed: status %d, %zu bytes\n", status, bytes);
        std::exit(2);
    }
}

Parameters<PipeProcessFlags> program(const std::string& path, const std::string& a1 = "",
                                     const std::string& a2 = "", const std::string& a3 = "") {
    return Parameters<PipeProcessFlags>(path, a1, a2, a3, "", "", "", "", "", "");
}

void pipeRead() {
    Pipe pipe(program("/usr/bin/head", "-c", totalText, "/dev/zero"));
    std::size_t received = 0;
    pipe.flags.stdoutChannel = {
        FD_PIPE, [&received](const std::vector<char>& chunk) { received += chunk.size(); }};
    const int status = pipe.run();
    check(status, received);
}

void bareRead() {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        fail("pipe");
    char* const argv[] = {const_cast<char*>("/usr/bin/head"), const_cast<char*>("-c"),
                          const_cast<char*>(totalText.c_str()), const_cast<char*>("/dev/zero"),
                          nullptr};
    const pid_t pid = bareStart(argv, -1, ends[1]);
    ::close(ends[1]);
    std::vector<char> buffer(readChunk);
    std::size_t received = 0;
    ssize_t got;
    while ((got = ::read(ends[0], buffer.data(), readChunk)) > 0)
        received += static_cast<std::size_t>(got);
    ::close(ends[0]);
    bareWait(pid);
    check(0, received);
}

void pipeFeed(const std::vector<char>& data) {
    Pipe pipe(program("/bin/cat"));
    std::size_t fed = 0;
    pipe.flags.stdinChannel = {FD_PIPE, [&](std::vector<char>& buffer) {
                                   buffer.assign(data.begin(), data.end());
                                   fed += buffer.size();
                                   return fed < totalBytes;
                               }};
    pipe.flags.stdoutChannel.fd = FD_DEVNULL;
    const int status = pipe.run();
    check(status, fed);
}

void bareFeed(const std::vector<char>& data) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        fail("pipe");
    const int devNull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    char* const argv[] = {const_cast<char*>("/bin/cat"), nullptr};
    const pid_t pid = bareStart(argv, ends[0], devNull);
    ::close(ends[0]);
    ::close(devNull);
    std::vector<char> buffer;
    std::size_t fed = 0;
    while (fed < totalBytes) {
        buffer.assign(data.begin(), data.end());
        for (std::size_t done = 0; done < buffer.size();) {
            const ssize_t written = ::write(ends[1], buffer.data() + done, buffer.size() - done);
            if (written <= 0)
                fail("write");
            done += static_cast<std::size_t>(written);
        }
        fed += buffer.size();
    }
    ::close(ends[1]);
    bareWait(pid);
    check(0, fed);
}

void pipeTrue() {
    Pipe pipe(program("/bin/true"));
    if (pipe.run() != 0)
        fail("/bin/true");
}

void bareTrue() {
    char* const argv[] = {const_cast<char*>("/bin/true"), nullptr};
    bareWait(bareStart(argv, -1, -1));
}

double median(std::vector<double> values) {
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}

// Launch latency is dominated by scheduling on a busy machine, so single
// runs are timed in turns and the medians compared.
void compareLaunches(const char* name) {
    std::vector<double> measured, baseline;
    for (int i = 0; i < launches; ++i) {
        baseline.push_back(seconds(bareTrue));
        measured.push_back(seconds(pipeTrue));
    }
    const double pipeMedian = median(measured), bareMedian = median(baseline);
    std::printf("%s: ratio %.2f (target <= 1.5) [pipe %.3f ms/run, bare %.3f ms/run, median of "
                "%d]\n",
                name, pipeMedian / bareMedian, pipeMedian * 1000, bareMedian * 1000, launches);
    std::fflush(stdout);
}

// Best times of a transfer and its baseline, taken in turns.
void compare(const char* name, int rounds, const std::function<void()>& measured,
             const std::function<void()>& baseline) {
    double best = 1e9, bestBase = 1e9;
    for (int round = 0; round < rounds; ++round) {
        bestBase = std::min(bestBase, seconds(baseline));
        best = std::min(best, seconds(measured));
    }
    std::printf("%s: ratio %.2f (target <= 1.5) [pipe %.3f s, bare %.3f s, best of %d]\n", name,
                best / bestBase, best, bestBase, rounds);
    std::fflush(stdout);
}

} // namespace

int main() {
    const std::vector<char> data(feedChunk, 'x');
    compare("pipe_read_100MB", readRounds, pipeRead, bareRead);
    compare(
        "pipe_feed_100MB", feedRounds, [&] { pipeFeed(data); }, [&] { bareFeed(data); });
    compareLaunches("pipe_run_true");
    return 0;
}
