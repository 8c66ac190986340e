// Every whole-file write goes through ReplaceFile: whatever moment it dies at,
// the target holds the old or the new content, never a part.
#include "utils/ReplaceFile.h"
#include "sandbox/Sandbox.h"
#include "sandbox/TestFiles.h"
#include "utils/Exceptions.h"

#include <regex>
#include <sys/wait.h>
#include <unistd.h>

namespace korvo::test {
namespace {

using ReplaceFileTest = SandboxTest;

const std::string home = "/var/qmail/mailnames/example.com/info";
const std::string target = home + "/maildirsize";

// The fsync and rename calls a forked process makes while it runs body.
std::string syncAndRenameCalls(void (*body)()) {
    const pid_t child = ::fork();
    if (child == 0) {
        waitUntil(
            [] {
                return readFile("/proc/self/status").find("TracerPid:\t0\n") == std::string::npos;
            },
            5, std::chrono::milliseconds(10));
        body();
        ::_exit(0);
    }
    const std::string log = "/run/vornctl-sandbox/strace.log";
    const pid_t tracer = ::fork();
    if (tracer == 0) {
        ::execl("/usr/bin/strace", "strace", "-qq", "-e", "trace=fsync,rename", "-o", log.c_str(),
                "-p", std::to_string(child).c_str(), nullptr);
        ::_exit(127);
    }
    ::waitpid(child, nullptr, 0);
    ::waitpid(tracer, nullptr, 0);
    return readFile(log);
}

// Planted links are covered in tests/mail/storage; kills at every moment and failed writes
// leaving the old content and no temporary file in tests/hardening.
TEST_F(ReplaceFileTest, SyncsAroundTheRename) {
    ASSERT_EQ(shell("mkdir -p " + home), 0);
    writeFile(target, "old\n");
    // The new content is on disk before its rename, and the rename before we return.
    const std::string calls =
        syncAndRenameCalls([] { replaceFileContent(target, "new\n", ReplaceOptions{}); });
    EXPECT_TRUE(std::regex_search(calls, std::regex("fsync\\(\\d+\\) += 0\nrename\\(\"" + target +
                                                    ".tmp\", \"" + target +
                                                    "\"\\) += 0\nfsync\\(\\d+\\) += 0\n")))
        << calls;
    EXPECT_THROW(replaceFileContent(home + "/missing/dir/file", "x", ReplaceOptions{}),
                 ExSystemError<ENOENT>);
}

} // namespace
} // namespace korvo::test
