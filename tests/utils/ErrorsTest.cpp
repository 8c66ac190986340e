// The panel parses the exception texts and the error stream of a failed run.
#include "utils/ErrorStream.h"
#include "utils/Exceptions.h"
#include "utils/Logging.h"
#include "utils/ReportException.h"
#include "utils/Traceback.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>
#include <sstream>
#include <unistd.h>

using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

namespace korvo {
namespace {

TEST(SystemErrorTest, TextAndClassFollowTheCodeOrErrno) {
    EXPECT_EQ(SystemError("x", EACCES).what(), std::string("x: ") + std::strerror(EACCES));
    EXPECT_STREQ(SystemError("", EACCES).what(), std::strerror(EACCES));
    errno = ENOSPC;
    const SystemError fromErrno("write /tmp/f", 0);
    EXPECT_EQ(fromErrno.code(), ENOSPC);
    EXPECT_EQ(fromErrno.what(), std::string("write /tmp/f: ") + std::strerror(ENOSPC));
    EXPECT_THROW(throwSystemError("open", ENOENT), ExSystemError<ENOENT>);
    EXPECT_THROW(throwSystemError("kill", EPERM), ExSystemError<EPERM>);
    EXPECT_THROW(throwSystemError("read", EAGAIN), ExSystemError<EAGAIN>);
    errno = ECHILD;
    EXPECT_THROW(throwSystemError("waitpid", 0), ExSystemError<ECHILD>);
    try {
        throwSystemError("open", ESRCH);
    } catch (const SystemError& e) {
        EXPECT_EQ(dynamic_cast<const ExSystemError<ENOENT>*>(&e), nullptr);
        EXPECT_EQ(e.code(), ESRCH);
    }
}

TEST(ErrorStreamTest, StderrAtOnceStdoutAtFlushOrExit) {
    CaptureStdout();
    CaptureStderr();
    uerr << "abc";
    EXPECT_EQ(GetCapturedStderr(), "abc");
    EXPECT_EQ(GetCapturedStdout(), "");
    CaptureStdout();
    CaptureStderr();
    uerr << std::endl << "second" << std::endl;
    EXPECT_EQ(GetCapturedStderr(), "\nsecond\n");
    EXPECT_EQ(GetCapturedStdout(), "abc\nsecond\n");
    // Standard error closed: only the flush at exit can print the unfinished line.
    EXPECT_EXIT((::dup2(2, 1), ::close(2), uerr << "last words", std::exit(0)),
                testing::ExitedWithCode(0), "^last words$");
}

TEST(LoggingTest, ErrorsGoToBothStreamsWithTheSystemErrorAndAStatusEndsTheRun) {
    CaptureStderr();
    CaptureStdout();
    ASSERT_EQ(std::fopen("/nonexistent/vornctl-test", "r"), nullptr);
    messlog2(0, 0, "cannot open %s", "/nonexistent/vornctl-test");
    korvo_log(12, "quiet detail %d", 1);
    korvo_log(3, "loud error %s", "here");
    const std::string expected = "cannot open /nonexistent/vornctl-test\n"
                                 "System error 2: No such file or directory\nloud error here\n";
    EXPECT_EQ(GetCapturedStdout(), expected);
    EXPECT_EQ(GetCapturedStderr(), expected);
    errno = 0;
    EXPECT_EXIT(messlog2(1, 0, "giving up on %d", 42), testing::ExitedWithCode(1),
                "^giving up on 42\n$");
}

struct TracedError : std::runtime_error, Traceback {
    TracedError() : std::runtime_error("traced"), Traceback(0) {}
};

TEST(ReportTest, FatalLineNamesTheDemangledTypeAndTheTracebackFollows) {
    CaptureStderr();
    try {
        throwSystemError("open /etc/orq/orq.conf", ENOENT);
    } catch (const std::exception& e) {
        reportException(e);
    }
    reportException(std::exception(mail::postfix::PostfixDatabaseError("delete failed")));
    reportException(mail::postfix::PostfixDatabaseError("delete failed"));
    reportUntypedException();
    EXPECT_EQ(GetCapturedStderr(),
              std::string("Fatal error: korvo::ExSystemError<2>(open /etc/orq/orq.conf: ") +
                  std::strerror(ENOENT) +
                  ")\nFatal error: std::exception(std::exception)\n"
                  "Fatal error: korvo::mail::postfix::PostfixDatabaseError(delete failed)\n"
                  "UNSPECIFIED ERROR OCCURED\n");

    CaptureStderr();
    reportException(TracedError());
    const std::string text = GetCapturedStderr();
    EXPECT_EQ(text.rfind("Fatal error: korvo::(anonymous namespace)::TracedError(traced)\n"
                         "Traceback:\n\t",
                         0),
              0u)
        << text;
    EXPECT_NE(text.find("korvo::Traceback::Traceback(unsigned long)"), std::string::npos) << text;
    std::ostringstream beyond;
    beyond << Traceback(1000);
    EXPECT_EQ(beyond.str(), "Traceback:\n");
}

} // namespace
} // namespace korvo
