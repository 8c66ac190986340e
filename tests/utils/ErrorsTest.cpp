// The panel parses the error stream of a failed run (an exception's report on
// both streams is checked through the commands in tests/front).
#include "sandbox/CapturedOutput.h"
#include "utils/ErrorStream.h"
#include "utils/Exceptions.h"
#include "utils/Logging.h"

#include <cerrno>
#include <cstdio>
#include <gtest/gtest.h>
#include <unistd.h>

namespace korvo {
namespace {

TEST(ErrorsTest, ErrorStreamAndLogReachBothStreamsInOrder) {
    // uerr writes standard error at once and standard output at a flush.
    {
        korvo::test::CapturedStdout capturedStdout;
        korvo::test::CapturedStderr capturedStderr;
        uerr << "abc";
        EXPECT_EQ(capturedStderr.text(), "abc");
        EXPECT_EQ(capturedStdout.text(), "");
    }
    korvo::test::CapturedStdout capturedStdout;
    korvo::test::CapturedStderr capturedStderr;
    uerr << std::endl;
    ASSERT_EQ(std::fopen("/nonexistent/vornctl-test", "r"), nullptr);
    messlog2(0, 0, "cannot open %s", "/nonexistent/vornctl-test");
    korvo_log(LOG_LEVEL_DETAIL, "quiet detail %d", 1);
    korvo_log(LOG_LEVEL_ERROR, "loud error %s", "here");
    const std::string out = capturedStdout.text();
    const std::string err = capturedStderr.text();
    EXPECT_EQ(out, "abc" + err);
    EXPECT_EQ(err, "\ncannot open /nonexistent/vornctl-test\n"
                   "System error 2: No such file or directory\nloud error here\n");
    // Standard error closed: only the flush at exit can print the unfinished line.
    EXPECT_EXIT((::dup2(2, 1), ::close(2), uerr << "last words", std::exit(0)),
                testing::ExitedWithCode(0), "^last words$");
}

} // namespace
} // namespace korvo
