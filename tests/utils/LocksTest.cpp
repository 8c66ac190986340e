// Lock files serialise concurrent runs of the tool on one file.
#include "utils/Locks.h"
#include "sandbox/Sandbox.h"
#include "sandbox/TestFiles.h"

#include <unistd.h>

namespace {

using korvo::test::SandboxTest;

const char* const qmail = "/var/qmail/mailnames/example.com/info/.qmail";

using LocksTest = SandboxTest;

TEST_F(LocksTest, HashedLockFileIsMd5OfFullPathUnderLockDir) {
    lock_struct_t* lock = mk_lock(qmail, 1);
    ASSERT_TRUE(is_locked(lock));
    // md5 of the path as `printf %s PATH | md5sum` gives it.
    EXPECT_STREQ(lock->path, "/var/lock/files/2f0edbaa73e1e2971e2a53bc4af9efe4");
    EXPECT_EQ(mk_flock_path(qmail), lock->path);
    EXPECT_EQ(korvo::test::statOf(lock->path).st_mode & 07777, 0644u);
    EXPECT_NE(::access(qmail, F_OK), 0) << "the protected file must not be touched";
    EXPECT_EQ(rm_lock(lock), 0);
    EXPECT_EQ(rm_lock(nullptr), -1);
    EXPECT_EQ(::access(mk_flock_path(qmail).c_str(), F_OK), 0) << "lock files stay";

    // Locking again neither empties the lock file nor follows a link there.
    const std::string lockFile = mk_flock_path(qmail);
    ASSERT_EQ(korvo::test::shell("echo owner-note > " + lockFile), 0);
    lock_struct_t* again = mk_lock(qmail, 1);
    EXPECT_TRUE(is_locked(again));
    EXPECT_EQ(korvo::test::readFile(lockFile), "owner-note\n");
    EXPECT_EQ(rm_lock(again), 0);
    ASSERT_EQ(korvo::test::shell("echo keep > /etc/vornctl-victim && ln -sf /etc/vornctl-victim " +
                                 lockFile),
              0);
    lock_struct_t* linked = mk_lock(qmail, 1);
    EXPECT_EQ(linked->fd, -1);
    EXPECT_EQ(rm_lock(linked), 0);
    EXPECT_EQ(korvo::test::readFile("/etc/vornctl-victim"), "keep\n");

    char joined[33];
    EXPECT_STREQ(get_md5sum("/var/qmail/", "mailnames/example.com/info/.qmail", joined),
                 "2f0edbaa73e1e2971e2a53bc4af9efe4");
}

} // namespace
