// A lock that stays held after an exception hangs the next run; waiting for
// another process is proved by the concurrency tests in tests/postfix/config
// and tests/hardening.
#include "process/MKLock.h"
#include "sandbox/Sandbox.h"
#include "sandbox/TestFiles.h"
#include "utils/Exceptions.h"
#include "utils/Locks.h"

#include <stdexcept>
#include <unistd.h>

namespace korvo {
namespace {

using MKLockTest = test::SandboxTest;

TEST_F(MKLockTest, LocksExcludeOtherToolsAndExceptionsReleaseThem) {
    const std::string table = "/var/spool/postfix/korvo/virtual";
    const std::string lockFile = mk_flock_path(table.c_str());
    {
        const MKLock held(table);
        EXPECT_EQ(test::shell("flock -n " + lockFile + " true"), 1) << "granted while held";
        EXPECT_THROW(MKLock(table, MKLock::LOCK_BY_DIGEST, MKLock::NONBLOCK), std::runtime_error);
        EXPECT_NO_THROW(MKLock(table + ".db", MKLock::LOCK_BY_DIGEST, MKLock::NONBLOCK));
    }
    EXPECT_EQ(test::shell("flock -n " + lockFile + " true"), 0);
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
