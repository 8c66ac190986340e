// Lock files serialise concurrent runs of the tool on one file; a wrong lock
// name or a lock that does not block silently lets two runs interleave.
#include "utils/Locks.h"
#include "sandbox/Sandbox.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
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
    struct stat st {};
    ASSERT_EQ(::stat(lock->path, &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);
    EXPECT_NE(::access(qmail, F_OK), 0) << "the protected file must not be touched";
    EXPECT_EQ(rm_lock(lock), 0);
    EXPECT_EQ(::access(mk_flock_path(qmail).c_str(), F_OK), 0) << "lock files stay";

    char out[33];
    EXPECT_STREQ(get_md5sum(nullptr, nullptr, out), "d41d8cd98f00b204e9800998ecf8427e");
    char joined[33];
    EXPECT_STREQ(get_md5sum("/var/qmail/", "mailnames/example.com/info/.qmail", joined),
                 "2f0edbaa73e1e2971e2a53bc4af9efe4");
}

// A forked child shares the parent's lock descriptor and with it the lock,
// so the contender is forked before the lock is taken. Waiting contention is
// covered through MKLock, which is built on mk_lock.
TEST_F(LocksTest, SecondProcessAskingWithoutWaitingIsRefused) {
    int go[2];
    ASSERT_EQ(::pipe(go), 0);
    const pid_t pid = ::fork();
    if (pid == 0) {
        char byte;
        if (::read(go[0], &byte, 1) != 1)
            ::_exit(3);
        lock_struct_t* lock = mk_nonblock_lock(qmail, 1);
        const bool refused = lock->fd == 0 && !is_locked(lock);
        ::_exit(refused && rm_lock(lock) == 0 ? 0 : 1);
    }
    lock_struct_t* held = mk_lock(qmail, 1);
    ASSERT_TRUE(is_locked(held));
    ASSERT_EQ(::write(go[1], "g", 1), 1);
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(rm_lock(held), 0);
    lock_struct_t* again = mk_nonblock_lock(qmail, 1);
    EXPECT_TRUE(is_locked(again)) << "released by rm_lock";
    rm_lock(again);
}

TEST_F(LocksTest, UnopenableLockFileIsAnErrorNotABusyLock) {
    lock_struct_t* lock = mk_nonblock_lock("/var/lib/korvo/missing/dir/file", 0);
    ASSERT_NE(lock, nullptr);
    EXPECT_EQ(lock->fd, -1);
    EXPECT_FALSE(is_locked(lock));
    EXPECT_EQ(rm_lock(lock), 0);
    EXPECT_EQ(rm_lock(nullptr), -1);
    EXPECT_FALSE(is_locked(nullptr));
}

} // namespace
