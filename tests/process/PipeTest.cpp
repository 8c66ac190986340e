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

const Receiver unparsable = [](const std::vector<char>&) {
    throw std::runtime_error("unparsable output");
};

long openDescriptors() {
    return std::distance(boost::filesystem::directory_iterator("/proc/self/fd"), {});
}

std::string blockedSignalsLine(const std::string& statusText) {
    const std::size_t at = statusText.find("SigBlk:");
    return statusText.substr(at, statusText.find('\n', at) - at);
}

bool noChildLeft() {
    return ::waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD;
}

} // namespace

TEST(PipeTest, OutputArrivesWholeFeedingEndsWithTheReaderAndNothingLeaks) {
    const long before = openDescriptors();
    Pipe both(command("/bin/sh", "-c", "head -c 2000000 /dev/zero >&2 & cat; wait"));
    std::string fed, out, err;
    both.flags.stdinChannel = {FD_PIPE, patternFeeder(3000000, fed)};
    both.flags.stdoutChannel = {FD_PIPE, makeStringReceiver(out)};
    both.flags.stderrChannel = {FD_PIPE, makeStringReceiver(err)};
    EXPECT_EQ(both.run(), 0);
    EXPECT_EQ(fed.size(), 3000000u);
    EXPECT_TRUE(out == fed);
    EXPECT_EQ(err.size(), 2000000u);

    // The child exits while the receiver is still busy with the first chunk.
    Pipe late(command("head", "-c", "60000", "/dev/zero"));
    std::size_t received = 0;
    late.flags.stdoutChannel = {FD_PIPE, [&received](const std::vector<char>& chunk) {
                                    if (received == 0)
                                        ::usleep(200000);
                                    received += chunk.size();
                                }};
    EXPECT_EQ(late.run(), 0);
    EXPECT_EQ(received, 60000u);

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

    // Runs ended or left by an exception leak no descriptor and leave no child.
    for (int run = 0; run < 1000; ++run) {
        Pipe pipe(command("/bin/true"));
        std::string fed;
        pipe.flags.stdinChannel = {FD_PIPE, patternFeeder(10, fed)};
        pipe.flags.stdoutChannel.fd = FD_PIPE;
        pipe.flags.stderrChannel.fd = FD_PIPE;
        ASSERT_EQ(pipe.run(), 0);
    }
    Pipe endless(command("/usr/bin/yes"));
    endless.flags.stdoutChannel = {FD_PIPE, unparsable};
    EXPECT_THROW(endless.run(), std::runtime_error);
    EXPECT_TRUE(noChildLeft());
    EXPECT_EQ(openDescriptors(), before);
}

// Children started by others (a fork_exec run in a receiver) are covered below.
TEST(PipeTest, AStoppedChildIsNotFinishedAndKeepsTheCatcherInstalled) {
    ProcessSetCatcher catcher;
    catcher.install();
    const pid_t child = ::fork();
    if (child == 0) {
        ::pause();
        ::_exit(0);
    }
    catcher.registerChild(child);
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
}

// The panel may start the tool with SIGCHLD blocked: children get the caller's
// mask, the caller gets it back, and a child ignoring SIGTERM is still killed.
TEST(PipeTest, RunsForACallerThatBlockedSigchldAndKillsAChildIgnoringSigterm) {
    ::alarm(15); // a hang kills the program
    sigset_t chld, after;
    ::sigemptyset(&chld);
    ::sigaddset(&chld, SIGCHLD);
    ::sigprocmask(SIG_BLOCK, &chld, nullptr);
    const std::string own = korvo::test::readFile("/proc/self/status");
    Pipe pipe(command("cat", "/proc/self/status"));
    std::string out;
    pipe.flags.stdoutChannel = {FD_PIPE, makeStringReceiver(out)};
    EXPECT_EQ(pipe.run(), 0);
    EXPECT_EQ(blockedSignalsLine(out), blockedSignalsLine(own)) << "the child's mask differs";
    ::sigprocmask(SIG_BLOCK, nullptr, &after);
    EXPECT_EQ(::sigismember(&after, SIGCHLD), 1) << "the caller's mask was not restored";

    const auto start = std::chrono::steady_clock::now();
    Pipe stubborn(command("/bin/sh", "-c", "trap '' TERM; echo ready; exec sleep 60"));
    stubborn.flags.stdoutChannel = {FD_PIPE, unparsable};
    EXPECT_THROW(stubborn.run(), std::runtime_error);
    EXPECT_TRUE(noChildLeft());
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(1900)) << "no grace time";
    EXPECT_LT(took, std::chrono::seconds(6));
    ::sigprocmask(SIG_UNBLOCK, &chld, nullptr);
    ::alarm(0);
}

TEST(PipeTest, AReceiverRunsAFunctionLibraryProgramWhileThePipeRuns) {
    // The pipe's SIGCHLD catcher must not steal the nested child's status.
    Pipe pipe(command("/bin/sh", "-c", "echo one; sleep 0.3; echo two"));
    std::vector<std::pair<int, std::string>> nested;
    pipe.flags.stdoutChannel = {FD_PIPE, [&nested](const std::vector<char>& chunk) {
                                    const std::string line(chunk.begin(), chunk.end());
                                    char* out = nullptr;
                                    const int status = fork_execl_getout(
                                        &out, "/bin/sh", "sh", "-c", "printf \"<$0>\"; exit 4",
                                        line.c_str(), nullptr);
                                    nested.emplace_back(status, out != nullptr ? out : "");
                                    std::free(out);
                                }};
    EXPECT_EQ(pipe.run(), 0);
    const std::vector<std::pair<int, std::string>> expected{{4, "<one\n>"}, {4, "<two\n>"}};
    EXPECT_EQ(nested, expected);
    EXPECT_TRUE(noChildLeft());
}
