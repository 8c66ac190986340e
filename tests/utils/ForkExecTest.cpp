// The program runners feed the mail-handler layer: output arrives whole,
// statuses come back as the child gave them, no descriptor leaks to a child.
#include "utils/ForkExec.h"
#include "sandbox/CapturedOutput.h"

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

namespace {

// A captured stream; "(null)" when nothing came.
std::string take(char* text) {
    const std::string taken = text != nullptr ? text : "(null)";
    std::free(text);
    return taken;
}

struct Outcome {
    int status;
    std::string out, err;
};

Outcome runShell(const char* script, const char* path = "/bin/sh") {
    char* argv[] = {const_cast<char*>("sh"), const_cast<char*>("-c"), const_cast<char*>(script),
                    nullptr};
    char *out = nullptr, *err = nullptr;
    const int status = fork_execv_getouterr(&out, &err, path, argv);
    return {status, take(out), take(err)};
}

TEST(ForkExecTest, OutputArrivesWholeStatusesComeBackAsGivenFailuresAreLoggedAndNoDescriptorLeaks) {
    const Outcome big = runShell("head -c 300000 /dev/zero | tr '\\0' o; "
                                 "head -c 70000 /dev/zero | tr '\\0' e >&2; exit 7");
    EXPECT_EQ(big.status, 7);
    EXPECT_EQ(big.out, std::string(300000, 'o'));
    EXPECT_EQ(big.err, std::string(70000, 'e'));
    const Outcome killed = runShell("echo partial; kill -9 $$");
    EXPECT_EQ(killed.status, -1);
    EXPECT_EQ(killed.out, "partial\n");
    const Outcome unexecutable = runShell("", "/nonexistent/program");
    EXPECT_EQ(unexecutable.status, 255);
    EXPECT_NE(unexecutable.err.find("/nonexistent/program"), std::string::npos);
    // A background grandchild holding the output open does not keep us waiting.
    const auto start = std::chrono::steady_clock::now();
    const Outcome early = runShell("sleep 4 & echo started; exit 3");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(3000));
    EXPECT_EQ(early.status, 3);
    EXPECT_EQ(early.out, "started\n");

    const int leaked = ::open("/dev/null", O_RDONLY);
    ASSERT_GE(leaked, 3);
    char* out = nullptr;
    EXPECT_EQ(fork_execl_getout(&out, "/bin/sh", "sh", "-c", "echo \"$1\"; ls /proc/self/fd", "sh",
                                "a b", nullptr),
              0);
    // ls itself holds one more descriptor for reading the directory.
    EXPECT_EQ(take(out), "a b\n0\n1\n2\n3\n");
    ::close(leaked);

    // The log form copies a failed run's output verbatim, unless asked to be quiet.
    char* argv[] = {const_cast<char*>("sh"), const_cast<char*>("-c"),
                    const_cast<char*>("printf '100%% done %%s\\n'; echo broken >&2; exit 1"),
                    nullptr};
    korvo::test::CapturedStderr capturedStderr;
    EXPECT_EQ(fork_execv_log("/bin/sh", argv, 0), 1);
    EXPECT_EQ(fork_execv_log("/bin/sh", argv, 1), 1);
    EXPECT_EQ(capturedStderr.text(), "100% done %s\n/bin/sh execution failed:\nbroken\n");
}

} // namespace
