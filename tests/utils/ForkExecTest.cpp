// The program runners feed the mail-handler layer: output must arrive whole
// however much there is, statuses must come back as the child gave them, and
// a child must not inherit the tool's descriptors.
#include "utils/ForkExec.h"

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <unistd.h>

using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

namespace {

struct Free {
    void operator()(char* p) const { std::free(p); }
};
using Captured = std::unique_ptr<char, Free>;

// Runs path (by default a shell script) with both streams captured.
int runShell(const char* script, Captured& out, Captured& err, const char* path = "/bin/sh") {
    char* argv[] = {const_cast<char*>("sh"), const_cast<char*>("-c"), const_cast<char*>(script),
                    nullptr};
    char* texts[2] = {nullptr, nullptr};
    const int status = fork_execv_getouterr(&texts[0], &texts[1], path, argv);
    out.reset(texts[0]);
    err.reset(texts[1]);
    return status;
}

TEST(ForkExecTest, OutputLargerThanTheBuffersArrivesWholeOnBothStreams) {
    Captured out, err;
    ASSERT_EQ(runShell("head -c 300000 /dev/zero | tr '\\0' o; "
                       "head -c 70000 /dev/zero | tr '\\0' e >&2; exit 7",
                       out, err),
              7);
    EXPECT_EQ(std::string(out.get()), std::string(300000, 'o'));
    EXPECT_EQ(std::string(err.get()), std::string(70000, 'e'));
}

TEST(ForkExecTest, SilentStreamsAreNullAndASignalGivesMinusOne) {
    Captured out, err;
    EXPECT_EQ(runShell("exit 0", out, err), 0);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(err, nullptr);
    EXPECT_EQ(runShell("echo partial; kill -9 $$", out, err), -1);
    EXPECT_STREQ(out.get(), "partial\n");
}

TEST(ForkExecTest, ChildThatExitsWhileItsOutputStaysOpenIsNoticedWithinASecond) {
    Captured out, err;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(runShell("sleep 4 & echo started; exit 3", out, err), 3);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(3000));
    EXPECT_STREQ(out.get(), "started\n");
}

TEST(ForkExecTest, ListFormPassesArgumentsAndChildSeesOnlyItsStandardStreams) {
    const int leaked = ::open("/dev/null", O_RDONLY);
    ASSERT_GE(leaked, 3);
    char* out = nullptr;
    EXPECT_EQ(fork_execl_getout(&out, "/bin/sh", "sh", "-c", "echo \"$1\"; ls /proc/self/fd", "sh",
                                "a b", nullptr),
              0);
    // ls itself holds one more descriptor for reading the directory.
    EXPECT_STREQ(out, "a b\n0\n1\n2\n3\n");
    std::free(out);
    ::close(leaked);
}

TEST(ForkExecTest, ExecFailureIsStatus255WithTheReason) {
    Captured out, err;
    EXPECT_EQ(runShell("", out, err, "/nonexistent/program"), 255);
    EXPECT_STREQ(err.get(),
                 "fork_execv: execv(\"/nonexistent/program\") failed: No such file or directory\n");
}

TEST(ForkExecTest, LogCopiesFailedOutputVerbatimAndReportsItsErrors) {
    char* argv[] = {const_cast<char*>("sh"), const_cast<char*>("-c"),
                    const_cast<char*>("printf '100%% done %%s\\n'; echo broken >&2; exit 1"),
                    nullptr};
    CaptureStderr();
    CaptureStdout();
    EXPECT_EQ(fork_execv_log("/bin/sh", argv, 0), 1);
    EXPECT_EQ(GetCapturedStdout(), "/bin/sh execution failed:\nbroken\n");
    EXPECT_EQ(GetCapturedStderr(), "100% done %s\n/bin/sh execution failed:\nbroken\n");

    CaptureStderr();
    EXPECT_EQ(fork_execv_log("/bin/sh", argv, 1), 1);
    EXPECT_EQ(GetCapturedStderr(), "");
}

} // namespace
