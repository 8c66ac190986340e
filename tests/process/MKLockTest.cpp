// A lock that does not serialise, or stays held after an exception, corrupts
// tables or hangs the next run.
#include "process/MKLock.h"
#include "sandbox/Sandbox.h"
#include "sandbox/TestFiles.h"
#include "utils/Exceptions.h"

#include <poll.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace korvo {
namespace {

using MKLockTest = test::SandboxTest;

const std::string table = "/var/spool/postfix/korvo/virtual";

// Forked before the test locks (a child shares its parent's lock): on a byte
// from go it locks the table and reports "y", or "b" and the error.
pid_t contender(MKLock::BlockFlag blockFlag, int go, int report) {
    const pid_t pid = ::fork();
    if (pid != 0)
        return pid;
    std::string text = "y";
    try {
        char byte;
        if (::read(go, &byte, 1) == 1)
            const MKLock lock(table, MKLock::LOCK_BY_DIGEST, blockFlag);
    } catch (const std::exception& e) {
        text = std::string("b") + e.what();
    }
    ::_exit(::write(report, text.data(), text.size()) > 0 ? 0 : 1);
}

std::string reportWithin(int fd, int milliseconds) {
    pollfd p{fd, POLLIN, 0};
    char text[256];
    const ssize_t n = ::poll(&p, 1, milliseconds) == 1 ? ::read(fd, text, sizeof text) : 0;
    return std::string(text, n > 0 ? static_cast<std::size_t>(n) : 0);
}

TEST_F(MKLockTest, SecondProcessWaitsOrIsRefusedWithoutWaiting) {
    for (const MKLock::BlockFlag flag : {MKLock::BLOCK, MKLock::NONBLOCK}) {
        int go[2], report[2];
        ASSERT_EQ(::pipe(go) | ::pipe(report), 0);
        const pid_t pid = contender(flag, go[0], report[1]);
        {
            const MKLock held(table);
            ASSERT_EQ(::write(go[1], "g", 1), 1);
            if (flag == MKLock::NONBLOCK)
                EXPECT_NE(reportWithin(report[0], 10000).find("already locked"), std::string::npos);
            else
                EXPECT_EQ(reportWithin(report[0], 300), "") << "granted while held elsewhere";
        }
        if (flag == MKLock::BLOCK) {
            EXPECT_EQ(reportWithin(report[0], 10000), "y");
        }
        ::waitpid(pid, nullptr, 0);
    }
}

TEST_F(MKLockTest, LocksOfOtherPathsDoNotContendAndExceptionsReleaseTheLock) {
    const MKLock first(table, MKLock::LOCK_BY_DIGEST, MKLock::NONBLOCK);
    EXPECT_NO_THROW(MKLock(table + ".db", MKLock::LOCK_BY_DIGEST, MKLock::NONBLOCK));
    EXPECT_NE(::access(table.c_str(), F_OK), 0) << "a digest lock must not create the table";
    const std::string cf = "/etc/postfix/master.cf";
    try {
        const MKLock lock(cf, MKLock::LOCK_FILE_ITSELF, MKLock::NONBLOCK);
        throw std::logic_error("write failed");
    } catch (const std::logic_error&) {
    }
    EXPECT_NO_THROW(MKLock(cf, MKLock::LOCK_FILE_ITSELF, MKLock::NONBLOCK));
    EXPECT_NE(test::readFile(cf), "") << "locking a file itself must not empty it";
    EXPECT_THROW(MKLock("/var/lib/korvo/missing/file", MKLock::LOCK_FILE_ITSELF),
                 ExSystemError<ENOENT>);
}

} // namespace
} // namespace korvo
