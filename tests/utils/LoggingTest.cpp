// The two report channels: what the panel sees on each stream, and when the
// message printer ends the run.
#include "utils/Logging.h"

#include <cerrno>
#include <cstdio>
#include <gtest/gtest.h>
#include <string>

using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

namespace {

TEST(MesslogTest, FailedOpenIsReportedOnBothStreamsWithTheSystemError) {
    CaptureStderr();
    CaptureStdout();
    ASSERT_EQ(std::fopen("/nonexistent/vornctl-test", "r"), nullptr);
    messlog2(0, 0, "cannot open %s", "/nonexistent/vornctl-test");
    const std::string expected =
        "cannot open /nonexistent/vornctl-test\nSystem error 2: No such file or directory\n";
    EXPECT_EQ(GetCapturedStdout(), expected);
    EXPECT_EQ(GetCapturedStderr(), expected);
}

TEST(MesslogDeathTest, NonZeroStatusEndsTheProcessAfterPrinting) {
    errno = 0;
    EXPECT_EXIT(messlog2(1, 0, "giving up on %d", 42), testing::ExitedWithCode(1),
                "^giving up on 42\n$");
}

TEST(KorvoLogTest, DetailLevelIsSilentAndErrorsGoToBothStreams) {
    CaptureStderr();
    CaptureStdout();
    korvo_log(12, "quiet detail %d", 1);
    korvo_log(3, "loud error %s", "here");
    EXPECT_EQ(GetCapturedStdout(), "loud error here\n");
    EXPECT_EQ(GetCapturedStderr(), "loud error here\n");
}

} // namespace
