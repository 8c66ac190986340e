// A lock that does not serialise, or stays held after an exception, corrupts
// tables or hangs the next run.
#include "process/MKLock.h"
#include "sandbox/Sandbox.h"
#include "sandbox/TestFiles.h"
#include "utils/Exceptions.h"
#include "utils/Locks.h"

#include <chrono>
#include <stdexcept>
#include <unistd.h>

namespace korvo {
namespace {

using MKLockTest = test::SandboxTest;

TEST_F(MKLockTest, LocksSerialiseWithOtherProcessesAndExceptionsReleaseThem) {
    const std::string table = "/var/spool/postfix/korvo/virtual";
    const std::string lockFile = mk_flock_path(table.c_str());
    {
        const MKLock held(table);
        EXPECT_EQ(test::shell("flock -n " + lockFile + " true"), 1) << "granted while held";
        EXPECT_NO_THROW(MKLock(table + ".db", MKLock::LOCK_BY_DIGEST, MKLock::NONBLOCK));
    }
    EXPECT_EQ(test::shell("flock -n " + lockFile + " true"), 0);
    EXPECT_NE(::access(table.c_str(), F_OK), 0) << "a digest lock must not create the table";

    // Held by another process: refused at once, or waited for.
    ASSERT_EQ(test::shell("flock " + lockFile +
                          " sh -c 'touch /run/vornctl-sandbox/held; sleep 1' & "
                          "while [ ! -e /run/vornctl-sandbox/held ]; do sleep 0.01; done"),
              0);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(MKLock(table, MKLock::LOCK_BY_DIGEST, MKLock::NONBLOCK), std::runtime_error);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
    { const MKLock waited(table); }
    EXPECT_GT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));

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
