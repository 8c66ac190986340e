// The panel parses the error stream of a failed run (system errors taken from
// errno are checked through the lock and process tests).
#include "sandbox/CapturedOutput.h"
#include "utils/ErrorStream.h"
#include "utils/Exceptions.h"
#include "utils/Logging.h"
#include "utils/ReportException.h"
#include "utils/Traceback.h"

#include <cerrno>
#include <cstdio>
#include <gtest/gtest.h>
#include <unistd.h>

namespace korvo {
namespace {

struct TracedError : std::runtime_error, Traceback {
    TracedError() : std::runtime_error("traced"), Traceback(0) {}
};

TEST(ErrorsTest, ErrorStreamLogAndReportReachBothStreamsInOrder) {
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
    reportUntypedException();
    reportException(TracedError());
    const std::string out = capturedStdout.text();
    const std::string err = capturedStderr.text();
    EXPECT_EQ(out, "abc" + err);
    EXPECT_EQ(err.rfind("\ncannot open /nonexistent/vornctl-test\n"
                        "System error 2: No such file or directory\nloud error here\n"
                        "UNSPECIFIED ERROR OCCURED\n"
                        "Fatal error: korvo::(anonymous namespace)::TracedError(traced)\n"
                        "Traceback:\n\t",
                        0),
              0u)
        << err;
    EXPECT_NE(err.find("korvo::Traceback::Traceback(unsigned long)"), std::string::npos) << err;
    // Standard error closed: only the flush at exit can print the unfinished line.
    EXPECT_EXIT((::dup2(2, 1), ::close(2), uerr << "last words", std::exit(0)),
                testing::ExitedWithCode(0), "^last words$");
    errno = 0;
    EXPECT_EXIT(messlog2(1, 0, "giving up on %d", 42), testing::ExitedWithCode(1),
                "^giving up on 42\n$");
}

} // namespace
} // namespace korvo
