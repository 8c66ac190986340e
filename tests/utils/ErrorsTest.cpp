// The exception texts and the error stream are what the panel parses after a
// failed run, so their exact form matters.
#include "utils/ErrorStream.h"
#include "utils/Exceptions.h"
#include "utils/ReportException.h"
#include "utils/Traceback.h"

#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

namespace korvo {
namespace {

TEST(SystemErrorTest, TextIsMessageColonStrerrorOrStrerrorAlone) {
    EXPECT_EQ(SystemError("x", EACCES).what(), std::string("x: ") + std::strerror(EACCES));
    EXPECT_STREQ(SystemError("", EACCES).what(), std::strerror(EACCES));
    errno = ENOSPC;
    const SystemError fromErrno("write /tmp/f", 0);
    errno = 0;
    EXPECT_EQ(fromErrno.code(), ENOSPC);
    EXPECT_EQ(fromErrno.what(), std::string("write /tmp/f: ") + std::strerror(ENOSPC));
}

TEST(SystemErrorTest, ThrowPicksTheClassOfTheSingledOutCodes) {
    EXPECT_THROW(throwSystemError("open", ENOENT), ExSystemError<ENOENT>);
    EXPECT_THROW(throwSystemError("kill", EPERM), ExSystemError<EPERM>);
    EXPECT_THROW(throwSystemError("read", EAGAIN), ExSystemError<EAGAIN>);
    try {
        throwSystemError("open", ESRCH);
        FAIL();
    } catch (const SystemError& e) {
        EXPECT_EQ(dynamic_cast<const ExSystemError<ENOENT>*>(&e), nullptr);
        EXPECT_EQ(e.code(), ESRCH);
    }
    errno = ECHILD;
    EXPECT_THROW(throwSystemError("waitpid", 0), ExSystemError<ECHILD>);
}

TEST(ErrorStreamTest, StderrAtOnceStdoutAtFlushAndBothSeeEveryLine) {
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
}

TEST(ErrorStreamTest, UnfinishedLineReachesStdoutAtExit) {
    // Run in a child whose standard output we read: the flush at exit is the
    // only thing that can put the line there.
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], 1);
        uerr << "last words";
        std::exit(0);
    }
    close(fds[1]);
    char buf[64] = {};
    std::string got;
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0)
        got.append(buf, n);
    close(fds[0]);
    waitpid(pid, nullptr, 0);
    EXPECT_EQ(got, "last words");
}

TEST(ReportTest, FatalErrorLineNamesTheDemangledType) {
    CaptureStderr();
    try {
        throwSystemError("open /etc/orq/orq.conf", ENOENT);
    } catch (const std::exception& e) {
        reportException(e);
    }
    EXPECT_EQ(GetCapturedStderr(), std::string("Fatal error: korvo::ExSystemError<2>(open "
                                               "/etc/orq/orq.conf: ") +
                                       std::strerror(ENOENT) + ")\n");
    CaptureStderr();
    reportException(std::exception(mail::postfix::PostfixDatabaseError("delete failed")));
    reportException(mail::postfix::PostfixDatabaseError("delete failed"));
    EXPECT_EQ(GetCapturedStderr(), "Fatal error: std::exception(std::exception)\n"
                                   "Fatal error: korvo::mail::postfix::PostfixDatabaseError"
                                   "(delete failed)\n");
    CaptureStderr();
    reportUntypedException();
    EXPECT_EQ(GetCapturedStderr(), "UNSPECIFIED ERROR OCCURED\n");
}

struct TracedError : std::runtime_error, Traceback {
    TracedError() : std::runtime_error("traced"), Traceback(0) {}
};

TEST(TracebackTest, PrintedAfterTheFatalLineWithDemangledFrames) {
    CaptureStderr();
    reportException(TracedError());
    const std::string text = GetCapturedStderr();
    EXPECT_EQ(text.rfind("Fatal error: korvo::(anonymous namespace)::TracedError(traced)\n"
                         "Traceback:\n\t",
                         0),
              0u)
        << text;
    EXPECT_NE(text.find("korvo::Traceback::Traceback(unsigned long)"), std::string::npos) << text;
}

TEST(TracebackTest, SkipBeyondTheStackLeavesOnlyTheHeading) {
    std::ostringstream out;
    out << Traceback(1000);
    EXPECT_EQ(out.str(), "Traceback:\n");
}

} // namespace
} // namespace korvo
