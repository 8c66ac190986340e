// Pipes with real children: deadlocks, late output, leaks, signal masks.
#include "process/Pipe.h"
#include "process/ProcessSetCatcher.h"
#include "sandbox/TestFiles.h"
#include "utils/Exceptions.h"
#include "utils/ForkExec.h"

#include <boost/filesystem/operations.hpp>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

using namespace korvo;
using namespace korvo::process;

namespace {

// The program and its arguments, padded to the ten strings Parameters takes.
template <class... Args> Parameters<PipeProcessFlags> command(const Args&... args) {
    const std::string s[10] = {args...};
    return {s[0], s[1], s[2], s[3], s[4], s[5], s[6], s[7], s[8], s[9]};
}

// A feeder that hands out size bytes of a repeating pattern, chunk by chunk.
Feeder patternFeeder(std::size_t size, std::string& fed) {
    return [size, &fed](std::vector<char>& buffer) {
        const std::size_t chunk = std::min<std::size_t>(65536, size - fed.size());
        for (std::size_t i = 0; i < chunk; ++i)
            buffer.push_back(static_cast<char>('a' + (fed.size() + i) % 26));
        fed.append(buffer.begin(), buffer.end());
        return fed.size() < size;
    };
}

long openDescriptors() {
    return std::distance(boost::filesystem::directory_iterator("/proc/self/fd"), {});
}

std::string blockedSignalsLine(const std::string& statusText) {
    const std::size_t at = statusText.find("SigBlk:");
    return statusText.substr(at, statusText.find('\n', at) - at);
}

// body's exit status in a forked process, or -1 when it hung past limit.
int exitWithin(std::chrono::seconds limit, const std::function<int()>& body) {
    const pid_t pid = ::fork();
    if (pid == 0)
        ::_exit(body());
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return -1;
        }
        ::usleep(10000);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void expectNoChildLeft() {
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
}

} // namespace

TEST(PipeTest, FeedingAndMegabytesOnStdoutAndStderrAtOnceDoNotDeadlock) {
    Pipe pipe(command("/bin/sh", "-c", "head -c 2000000 /dev/zero >&2 & cat; wait"));
    std::string fed, out, err;
    pipe.flags.stdinChannel = {FD_PIPE, patternFeeder(3000000, fed)};
    pipe.flags.stdoutChannel = {FD_PIPE, makeStringReceiver(out)};
    pipe.flags.stderrChannel = {FD_PIPE, makeStringReceiver(err)};
    EXPECT_EQ(pipe.run(), 0);
    EXPECT_EQ(fed.size(), 3000000u);
    EXPECT_TRUE(out == fed);
    EXPECT_EQ(err.size(), 2000000u);
}

TEST(PipeTest, AChildThatStopsReadingEndsFeedingWithoutKillingUs) {
    for (int round = 0; round < 20; ++round) {
        Pipe pipe(command("head", "-c1"));
        std::string fed, out;
        pipe.flags.stdinChannel = {FD_PIPE, patternFeeder(10000000, fed)};
        pipe.flags.stdoutChannel = {FD_PIPE, makeStringReceiver(out)};
        EXPECT_EQ(pipe.run(), 0);
        EXPECT_EQ(out, "a");
        EXPECT_LT(fed.size(), 10000000u);
    }
    sigset_t pending;
    ::sigpending(&pending);
    EXPECT_FALSE(::sigismember(&pending, SIGPIPE));
}

TEST(PipeTest, OutputLeftAfterTheExitNoticeIsDrained) {
    // The child exits while the receiver is still busy with the first chunk.
    Pipe pipe(command("head", "-c", "60000", "/dev/zero"));
    std::size_t received = 0;
    pipe.flags.stdoutChannel = {FD_PIPE, [&received](const std::vector<char>& chunk) {
                                    if (received == 0)
                                        ::usleep(200000);
                                    received += chunk.size();
                                }};
    EXPECT_EQ(pipe.run(), 0);
    EXPECT_EQ(received, 60000u);
}

TEST(PipeTest, UnfedStdinAndUnreceivedOutputs) {
    Pipe pipe(command("/bin/sh", "-c", "cat; head -c 200000 /dev/zero; exit 3"));
    std::pair<unsigned long, int> called{99, -1};
    pipe.flags.stdinChannel.fd = FD_PIPE;
    pipe.flags.stdoutChannel.fd = FD_PIPE;
    pipe.flags.exitCallback = [&](unsigned long index, int status) { called = {index, status}; };
    const int status = pipe.run();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 3);
    EXPECT_EQ(called, std::make_pair(0ul, status));
    EXPECT_THROW(pipe.run(), std::logic_error);
}

TEST(PipeTest, RunsEndedOrLeftByAnExceptionLeakNoDescriptorAndLeaveNoChild) {
    const long before = openDescriptors();
    for (int run = 0; run < 1000; ++run) {
        Pipe pipe(command("/bin/true"));
        std::string fed;
        pipe.flags.stdinChannel = {FD_PIPE, patternFeeder(10, fed)};
        pipe.flags.stdoutChannel.fd = FD_PIPE;
        pipe.flags.stderrChannel.fd = FD_PIPE;
        ASSERT_EQ(pipe.run(), 0);
    }
    expectNoChildLeft();

    // The exec failure names the program.
    const std::string program = "/tmp/pipe-not-executable";
    korvo::test::writeFile(program, "#!/bin/sh\n");
    Pipe unexecutable(command(program));
    try {
        unexecutable.run();
        ADD_FAILURE() << "ran";
    } catch (const SystemError& e) {
        EXPECT_EQ(e.code(), EACCES);
        EXPECT_EQ(std::string(e.what()), "execv " + program + ": " + std::strerror(EACCES));
    }
    Pipe endless(command("/usr/bin/yes"));
    endless.flags.stdoutChannel = {
        FD_PIPE, [](const std::vector<char>&) { throw std::runtime_error("unparsable output"); }};
    EXPECT_THROW(endless.run(), std::runtime_error);
    expectNoChildLeft();
    EXPECT_EQ(openDescriptors(), before);
}

TEST(PipeTest, CatcherRulesAndStoppedChildren) {
    ProcessSetCatcher catcher;
    catcher.install();
    ProcessSetCatcher second;
    EXPECT_THROW(second.install(), std::logic_error);
    EXPECT_THROW(catcher.status(1), std::out_of_range);

    sigset_t chld, old;
    ::sigemptyset(&chld);
    ::sigaddset(&chld, SIGCHLD);
    ::sigprocmask(SIG_BLOCK, &chld, &old);
    const pid_t child = ::fork();
    if (child == 0) {
        ::pause();
        ::_exit(0);
    }
    catcher.registerChild(child);
    // A child somebody else started stays theirs to reap.
    const pid_t foreign = ::fork();
    if (foreign == 0)
        ::_exit(5);
    ::usleep(100000);
    ::sigprocmask(SIG_SETMASK, &old, nullptr);
    int foreignStatus = 0;
    EXPECT_EQ(::waitpid(foreign, &foreignStatus, 0), foreign);
    EXPECT_TRUE(WIFEXITED(foreignStatus) && WEXITSTATUS(foreignStatus) == 5);
    ::kill(child, SIGSTOP);
    ::usleep(100000);
    EXPECT_EQ(catcher.clear_control(), 0);
    EXPECT_EQ(catcher.processStatus(child).finished, 0);
    EXPECT_THROW(catcher.remove(false), std::logic_error);
    ::kill(child, SIGKILL);
    while (catcher.processStatus(child).finished == 0)
        ::usleep(1000);
    EXPECT_TRUE(WIFSIGNALED(catcher.status(child)));
    catcher.remove(true);
    second.install();
}

// The panel may start the tool with SIGCHLD blocked; children get the caller's mask.
TEST(PipeTest, RunsForACallerThatBlockedSigchldAndGivesItsMaskBack) {
    const int result = exitWithin(std::chrono::seconds(10), [] {
        sigset_t chld, after;
        ::sigemptyset(&chld);
        ::sigaddset(&chld, SIGCHLD);
        ::sigprocmask(SIG_BLOCK, &chld, nullptr);
        const std::string own = korvo::test::readFile("/proc/self/status");
        Pipe pipe(command("cat", "/proc/self/status"));
        std::string out;
        pipe.flags.stdoutChannel = {FD_PIPE, makeStringReceiver(out)};
        if (pipe.run() != 0 || blockedSignalsLine(out) != blockedSignalsLine(own))
            return 1;
        ::sigprocmask(SIG_BLOCK, nullptr, &after);
        return ::sigismember(&after, SIGCHLD) == 1 ? 0 : 2;
    });
    EXPECT_EQ(result, 0) << "-1: hung; 1: child mask differs; 2: caller's mask not restored";
}

TEST(PipeTest, AChildIgnoringSigtermIsKilledAfterTheGraceTime) {
    const auto start = std::chrono::steady_clock::now();
    const int result = exitWithin(std::chrono::seconds(15), [] {
        Pipe pipe(command("/bin/sh", "-c", "trap '' TERM; echo ready; exec sleep 60"));
        pipe.flags.stdoutChannel = {FD_PIPE, [](const std::vector<char>&) {
                                        throw std::runtime_error("unparsable output");
                                    }};
        try {
            pipe.run();
        } catch (const std::runtime_error&) {
            return ::waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD ? 0 : 2;
        }
        return 1;
    });
    EXPECT_EQ(result, 0) << "-1: run() waited for the child without end";
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(1900));
    EXPECT_LT(took, std::chrono::seconds(6));
}

TEST(PipeTest, AReceiverRunsAFunctionLibraryProgramWhileThePipeRuns) {
    // The pipe's SIGCHLD catcher must not steal the nested child's status.
    Pipe pipe(command("/bin/sh", "-c", "echo one; sleep 0.3; echo two"));
    std::vector<std::pair<int, std::string>> nested;
    pipe.flags.stdoutChannel = {FD_PIPE, [&nested](const std::vector<char>& chunk) {
                                    const std::string line(chunk.begin(), chunk.end());
                                    char* const argv[] = {
                                        const_cast<char*>("sh"), const_cast<char*>("-c"),
                                        const_cast<char*>("printf \"<$0>\"; exit 4"),
                                        const_cast<char*>(line.c_str()), nullptr};
                                    char* out = nullptr;
                                    const int status = fork_execv_getout(&out, "/bin/sh", argv);
                                    nested.emplace_back(status, out != nullptr ? out : "");
                                    std::free(out);
                                }};
    EXPECT_EQ(pipe.run(), 0);
    const std::vector<std::pair<int, std::string>> expected{{4, "<one\n>"}, {4, "<two\n>"}};
    EXPECT_EQ(nested, expected);
    expectNoChildLeft();
}
