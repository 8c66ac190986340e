// Exec failures and hook exceptions reach the parent; descriptor specifications.
#include "process/ProcessLaunch.h"
#include "process/LaunchOne.h"
#include "process/PipeOwner.h"
#include "utils/ErrorStream.h"
#include "utils/Exceptions.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <sys/wait.h>
#include <typeinfo>
#include <unistd.h>

using namespace korvo;
using namespace korvo::process;

namespace {

using Hook = boost::function<void()>;

struct Launched {
    std::string error; // what() of the rethrown exception, "" when exec worked
    std::string type;  // its dynamic type
    int code = 0;      // errno of a SystemError
    int exitStatus = -1;
};

// Waits for the child's exec and exit and tells what came back.
Launched outcome(ProcessLaunch& child) {
    Launched result;
    try {
        child.waitExec();
    } catch (const SystemError& e) {
        result = {e.what(), typeid(e).name(), e.code()};
    } catch (const std::exception& e) {
        result = {e.what(), typeid(e).name()};
    }
    const int status = child.waitExit();
    result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

Launched launch(char const* const* argv, const char* file, const Hook& hook = {},
                char const* const* envp = nullptr, bool searchPath = false) {
    ProcessLaunch child(argv, file, nullptr, envp, false, searchPath, false, hook, FD_DEVNULL,
                        FD_DEVNULL, FD_DEVNULL);
    return outcome(child);
}

const char* const shellLine[] = {"sh", "-c", "echo out; echo err >&2", nullptr};

ProcessLaunch spawn(int in, int out, int err, char const* const* argv = shellLine,
                    const char* file = "/bin/sh") {
    return ProcessLaunch(argv, file, nullptr, nullptr, false, false, false, Hook(), in, out, err);
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

TEST(ProcessLaunchTest, ExecFailuresCarryTheChildsErrno) {
    const char* const argv[] = {"no-such-program", nullptr};
    const Launched direct = launch(argv, "/nonexistent/program");
    EXPECT_EQ(direct.error, std::string("execv: ") + std::strerror(ENOENT));
    EXPECT_EQ(direct.code, ENOENT);
    EXPECT_EQ(direct.exitStatus, 67);
    EXPECT_EQ(launch(argv, "no-such-program", {}, nullptr, true).error.rfind("execvp: ", 0), 0u);
    const char* const envp[] = {"A=1", nullptr};
    EXPECT_EQ(launch(argv, "/nonexistent/program", {}, envp).error.rfind("execve: ", 0), 0u);
    const char* const directory[] = {"/bin/true", nullptr};
    EXPECT_EQ(launch(directory, "/tmp").code, EACCES);

    Parameters<PipeProcessFlags> inMissingDir("true", "", "", "", "", "", "", "", "", "");
    inMissingDir.workingDirectory = "/nonexistent/dir";
    const Launched cwd = outcome(*launchOne(inMissingDir, FD_DEVNULL, FD_DEVNULL));
    EXPECT_EQ(cwd.error, std::string("cwd chdir: ") + std::strerror(ENOENT));
    EXPECT_EQ(cwd.code, ENOENT);
}

TEST(ProcessLaunchTest, HookExceptionsOfEachKindReachTheParent) {
    const char* const argv[] = {"/bin/true", nullptr};
    const Launched logic = launch(argv, argv[0], [] { throw std::logic_error("x"); });
    EXPECT_EQ(logic.type, typeid(std::exception).name());
    EXPECT_EQ(logic.exitStatus, 66);
    const Launched runtime = launch(argv, argv[0], [] { throw std::runtime_error("boom"); });
    EXPECT_EQ(runtime.type, typeid(std::runtime_error).name());
    EXPECT_EQ(runtime.error, "boom");
    EXPECT_EQ(runtime.exitStatus, 66);
    const Launched unknown = launch(argv, argv[0], [] { throw 42; });
    EXPECT_EQ(unknown.error, "unknown error");
    EXPECT_EQ(unknown.exitStatus, 65);
    const Launched system = launch(argv, argv[0], [] { throw SystemError("hook", EACCES); });
    EXPECT_EQ(system.error, std::string("hook: ") + std::strerror(EACCES));
    EXPECT_EQ(system.code, EACCES);
    EXPECT_EQ(system.exitStatus, 67);
    const Launched fine = launch(argv, argv[0], [] {});
    EXPECT_EQ(fine.type, "");
    EXPECT_EQ(fine.exitStatus, 0);
}

TEST(ProcessLaunchTest, DescriptorSpecificationsRouteTheChildsStreams) {
    const int refused[][3] = {{FD_UNSET, FD_INHERIT, FD_INHERIT},
                              {FD_INHERIT, FD_AS_STDOUT, FD_INHERIT},
                              {FD_INHERIT, FD_INHERIT, -6}};
    for (const auto& spec : refused)
        EXPECT_THROW(spawn(spec[0], spec[1], spec[2]), std::invalid_argument);
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1) << "forked for an invalid specification";

    ProcessLaunch piped = spawn(FD_DEVNULL, FD_PIPE, FD_PIPE);
    piped.waitExec();
    EXPECT_EQ(readAll(piped.stdoutFd().get()), "out\n");
    EXPECT_EQ(readAll(piped.stderrFd().get()), "err\n");
    piped.waitExit();

    // The launcher must not close a borrowed write end.
    PipeOwner borrowed;
    borrowed.open("test pipe");
    ProcessLaunch shared = spawn(FD_DEVNULL, borrowed.writeEnd.get(), FD_AS_STDOUT);
    shared.waitExec();
    shared.waitExit();
    borrowed.writeEnd.close();
    EXPECT_EQ(readAll(borrowed.readEnd.get()), "out\nerr\n");

    ProcessLaunch merged = spawn(FD_DEVNULL, FD_PIPE, FD_AS_STDOUT);
    merged.waitExec();
    EXPECT_EQ(readAll(merged.stdoutFd().get()), "out\nerr\n");
    merged.waitExit();

    const char* const cat[] = {"cat", nullptr};
    for (const int input : {FD_DEVNULL, FD_PIPE}) {
        ProcessLaunch reader = spawn(input, FD_PIPE, FD_INHERIT, cat, "/bin/cat");
        reader.waitExec();
        reader.stdinFd().close();
        EXPECT_EQ(readAll(reader.stdoutFd().get()), "");
        EXPECT_EQ(reader.waitExit(), 0);
    }
}

TEST(ProcessLaunchTest, ParametersStopAtTheFirstEmptyArgumentAndSearchBareNames) {
    const auto child =
        launchOne(Parameters<PipeProcessFlags>("echo", "a", "", "b", "", "", "", "", "", ""),
                  FD_DEVNULL, FD_PIPE);
    child->waitExec();
    EXPECT_EQ(readAll(child->stdoutFd().get()), "a\n");
    EXPECT_EQ(child->waitExit(), 0);
}

TEST(ProcessLaunchTest, AChildFailingBeforeExecDoesNotReplayTheParentsPendingOutput) {
    // Neither a half line of uerr nor buffered stdio may leak through a failed child.
    testing::internal::CaptureStdout();
    korvo::uerr << "half a line";
    std::printf("buffered ");
    const char* const argv[] = {"no-such-program", nullptr};
    ProcessLaunch child(argv, "/nonexistent/program", nullptr, nullptr, false, false, false, Hook(),
                        FD_DEVNULL, FD_PIPE, FD_DEVNULL);
    EXPECT_THROW(child.waitExec(), SystemError);
    EXPECT_EQ(child.waitExit() >> 8, 67);
    EXPECT_EQ(readAll(child.stdoutFd().get()), "");
    korvo::uerr << std::flush;
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "buffered half a line");
}
