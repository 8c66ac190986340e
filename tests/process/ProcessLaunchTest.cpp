// Exec failures and hook exceptions reach the parent; descriptor specifications.
#include "process/ProcessLaunch.h"
#include "process/PipeOwner.h"
#include "sandbox/CapturedOutput.h"
#include "utils/ErrorStream.h"
#include "utils/Exceptions.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

using namespace korvo;
using namespace korvo::process;

namespace {

using Hook = boost::function<void()>;

// "what() (errno), exit STATUS" of a child whose exec failed, once it has ended.
std::string outcome(ProcessLaunch& child) {
    std::string error = "exec worked";
    try {
        child.waitExec();
    } catch (const SystemError& e) {
        error = std::string(e.what()) + " (" + std::to_string(e.code()) + ")";
    }
    const int status = child.waitExit();
    return error + ", exit " + std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1);
}

const char* const shellLine[] = {"sh", "-c", "echo out; echo err >&2", nullptr};

ProcessLaunch spawn(int in, int out, int err, char const* const* argv = shellLine,
                    const char* file = "/bin/sh", const Hook& hook = {}) {
    return ProcessLaunch(argv, file, nullptr, nullptr, false, false, false, hook, in, out, err);
}

std::string readAll(int fd) {
    std::string text;
    char buffer[256];
    ssize_t got;
    while ((got = ::read(fd, buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<std::size_t>(got));
    return text;
}

} // namespace

TEST(ProcessLaunchTest, ExecAndHookFailuresReachTheParentWithoutReplayingItsOutput) {
    // Neither a half line of uerr nor buffered stdio may leak through a failed child.
    korvo::test::CapturedStdout capturedStdout;
    korvo::uerr << "half a line";
    std::printf("buffered ");
    const char* const missing[] = {"no-such-program", nullptr};
    ProcessLaunch child = spawn(FD_DEVNULL, FD_PIPE, FD_DEVNULL, missing, "/nonexistent/program");
    EXPECT_EQ(outcome(child), std::string("execv: ") + std::strerror(ENOENT) + " (2), exit 67");
    EXPECT_EQ(readAll(child.stdoutFd().get()), "");
    korvo::uerr << std::flush;
    std::fflush(stdout);
    EXPECT_EQ(capturedStdout.text(), "buffered half a line");

    // The pipe's mask-restoring hook reports its failure as a SystemError.
    const char* const truth[] = {"/bin/true", nullptr};
    ProcessLaunch hooked = spawn(FD_DEVNULL, FD_DEVNULL, FD_DEVNULL, truth, truth[0],
                                 [] { throw SystemError("hook", EACCES); });
    EXPECT_EQ(outcome(hooked), std::string("hook: ") + std::strerror(EACCES) + " (13), exit 67");
}

TEST(ProcessLaunchTest, DescriptorSpecificationsRouteTheChildsStreams) {
    const int refused[][3] = {{FD_UNSET, FD_INHERIT, FD_INHERIT},
                              {FD_INHERIT, FD_AS_STDOUT, FD_INHERIT},
                              {FD_INHERIT, FD_INHERIT, -6}};
    for (const auto& spec : refused)
        EXPECT_THROW(spawn(spec[0], spec[1], spec[2]), std::invalid_argument);
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1) << "forked for an invalid specification";

    // The launcher must not close a borrowed write end.
    PipeOwner borrowed;
    borrowed.open("test pipe");
    ProcessLaunch shared = spawn(FD_DEVNULL, borrowed.writeEnd.get(), FD_AS_STDOUT);
    shared.waitExec();
    shared.waitExit();
    borrowed.writeEnd.close();
    EXPECT_EQ(readAll(borrowed.readEnd.get()), "out\nerr\n");
}
