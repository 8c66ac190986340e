// MKLock guards whole-table rebuilds and master.cf writes between runs of
// the tool: a lock that does not serialise, or one left held after an
// exception, corrupts tables or hangs the next run.
#include "process/MKLock.h"
#include "sandbox/Sandbox.h"
#include "utils/Exceptions.h"

#include <cstring>
#include <poll.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace korvo {
namespace {

using test::SandboxTest;
using MKLockTest = SandboxTest;

const std::string table = "/var/spool/postfix/korvo/virtual";

// A process that, once told to go, takes an MKLock on the path and reports
// 'y' when it holds it, or 'b' with the text of the error it got. It is
// forked before the test takes its own lock: a forked child shares the
// parent's lock descriptor and with it the lock.
class Contender {
public:
    Contender(const std::string& path, MKLock::BlockFlag blockFlag) {
        if (::pipe(go_) != 0 || ::pipe(report_) != 0)
            throw std::runtime_error("pipe");
        pid_ = ::fork();
        if (pid_ == 0)
            run(path, blockFlag);
        ::close(go_[0]);
        ::close(report_[1]);
    }
    ~Contender() {
        ::close(go_[1]);
        ::close(report_[0]);
        ::waitpid(pid_, nullptr, 0);
    }
    void go() const { EXPECT_EQ(::write(go_[1], "g", 1), 1); }
    bool reportedWithin(int milliseconds) const {
        pollfd p{report_[0], POLLIN, 0};
        return ::poll(&p, 1, milliseconds) == 1;
    }
    std::string report() const {
        char text[256];
        const ssize_t n = ::read(report_[0], text, sizeof text);
        return std::string(text, n > 0 ? static_cast<std::size_t>(n) : 0);
    }

private:
    [[noreturn]] void run(const std::string& path, MKLock::BlockFlag blockFlag) {
        char byte;
        if (::read(go_[0], &byte, 1) != 1)
            ::_exit(1);
        std::string text = "y";
        try {
            const MKLock lock(path, MKLock::LOCK_BY_DIGEST, blockFlag);
        } catch (const std::exception& e) {
            text = std::string("b") + e.what();
        }
        ::_exit(::write(report_[1], text.data(), text.size()) > 0 ? 0 : 1);
    }

    int go_[2];
    int report_[2];
    pid_t pid_;
};

TEST_F(MKLockTest, BlockingLocksInTwoProcessesSerialise) {
    const Contender contender(table, MKLock::BLOCK);
    {
        const MKLock held(table);
        contender.go();
        EXPECT_FALSE(contender.reportedWithin(300)) << "granted while held elsewhere";
    }
    ASSERT_TRUE(contender.reportedWithin(10000));
    EXPECT_EQ(contender.report(), "y");
}

TEST_F(MKLockTest, NonBlockingLockOfAHeldPathRaisesAlreadyLocked) {
    const Contender contender(table, MKLock::NONBLOCK);
    const MKLock held(table, MKLock::LOCK_BY_DIGEST, MKLock::NONBLOCK);
    contender.go();
    ASSERT_TRUE(contender.reportedWithin(10000));
    EXPECT_EQ(contender.report(), "block(" + table + ") failed: file is already locked");
}

TEST_F(MKLockTest, DigestLocksOfDifferentPathsNeverContendNorTouchTheFile) {
    const MKLock first(table, MKLock::LOCK_BY_DIGEST, MKLock::NONBLOCK);
    EXPECT_NO_THROW(MKLock(table + ".db", MKLock::LOCK_BY_DIGEST, MKLock::NONBLOCK));
    EXPECT_NE(::access(table.c_str(), F_OK), 0);
    EXPECT_EQ(::access(mk_flock_path(table.c_str()).c_str(), F_OK), 0);
}

TEST_F(MKLockTest, LockIsReleasedWhenAnExceptionUnwindsTheOwner) {
    const std::string cf = "/etc/postfix/master.cf";
    try {
        const MKLock lock(cf, MKLock::LOCK_FILE_ITSELF, MKLock::NONBLOCK);
        throw std::logic_error("write failed");
    } catch (const std::logic_error&) {
    }
    EXPECT_NO_THROW(MKLock(cf, MKLock::LOCK_FILE_ITSELF, MKLock::NONBLOCK));
}

TEST_F(MKLockTest, UnopenableLockFileRaisesSystemError) {
    try {
        const MKLock lock("/var/lib/korvo/missing/file", MKLock::LOCK_FILE_ITSELF);
        FAIL() << "locked a file in a missing directory";
    } catch (const ExSystemError<ENOENT>& e) {
        EXPECT_EQ(std::string(e.what()), std::string("lock() failed: ") + std::strerror(ENOENT));
    }
}

} // namespace
} // namespace korvo
