// The line editor rewrites .qmail files the delivery agent reads at any
// moment, in homes the mail account controls, as root, under a hashed lock
// (the .qmail sequences are covered in tests/mail/storage).
#include "utils/FileStr.h"
#include "sandbox/Sandbox.h"
#include "sandbox/TestFiles.h"
#include "utils/Accounts.h"
#include "utils/FileUtils.h"
#include "utils/Locks.h"

#include <unistd.h>

namespace korvo::test {
namespace {

using FileStrTest = SandboxTest;

const std::string dir = "/var/qmail/mailnames/example.com/info";
const std::string qmail = dir + "/.qmail";

int add(const char* line) {
    return file_str(qmail.c_str(), line, FILE_STR_ADD, FILE_STR_END);
}
int remove(const char* line) {
    return file_str(qmail.c_str(), line, FILE_STR_REMOVE, 0);
}

// A copy that cannot be written is covered by the full-disk commands in tests/hardening.
TEST_F(FileStrTest, EditsKeepOwnerAndMode) {
    ASSERT_EQ(shell("mkdir -p " + dir), 0);
    writeFile(qmail, "| true\n&a@example.org\n| true");
    ASSERT_EQ(file_set_user_mode(qmail.c_str(), "popuser", 0600), 0);

    EXPECT_EQ(remove("| true\n"), 0);
    EXPECT_EQ(add("&b@example.org"), 0);
    EXPECT_EQ(remove("&absent@example.org"), 0);
    EXPECT_EQ(readFile(qmail), "&a@example.org\n&b@example.org\n");
    EXPECT_EQ(statOf(qmail).st_uid, korvo_ugid("popuser", 0));
    EXPECT_EQ(statOf(qmail).st_mode & 07777, 0600u);
    EXPECT_NE(::access((qmail + ".tmp").c_str(), F_OK), 0);
}

// Links at .qmail and .qmail.tmp are covered in tests/mail/storage.
TEST_F(FileStrTest, LocksAndFifosPlantedByTheMailAccountAreNotFollowed) {
    const std::string victim = "/etc/vornctl-victim";
    writeFile(victim, "root:secret\n");
    ASSERT_EQ(shell("mkdir -p " + dir + " && chown popuser:popuser " + dir), 0);
    ASSERT_EQ(::symlink(victim.c_str(), (dir + "/planted").c_str()), 0);
    EXPECT_EQ(file_set_user_mode((dir + "/planted").c_str(), "popuser", 0666), -1);

    // The hashed lock file is md5 of the path (as md5sum gives it) and kept.
    lock_struct_t* lock = mk_lock(qmail.c_str(), 1);
    ASSERT_TRUE(is_locked(lock));
    const std::string lockFile = lock->path;
    EXPECT_EQ(lockFile, "/var/lock/files/2f0edbaa73e1e2971e2a53bc4af9efe4");
    EXPECT_EQ(statOf(lockFile).st_mode & 07777, 0644u);
    EXPECT_NE(::access(qmail.c_str(), F_OK), 0) << "the protected file must not be touched";
    EXPECT_EQ(rm_lock(lock), 0);
    writeFile(lockFile, "owner-note\n");
    EXPECT_EQ(add("&a@example.org"), 0);
    EXPECT_EQ(readFile(lockFile), "owner-note\n") << "a lock file is never truncated";

    ASSERT_EQ(::unlink(qmail.c_str()), 0);
    ASSERT_EQ(::mkfifo(qmail.c_str(), 0644), 0);
    EXPECT_EQ(add("&b@example.org"), 1) << "a FIFO is refused, not waited on";
    EXPECT_EQ(remove("&b@example.org"), 1);
    ASSERT_EQ(::unlink(qmail.c_str()), 0);
    ASSERT_EQ(::unlink(lockFile.c_str()), 0);
    ASSERT_EQ(::symlink(victim.c_str(), lockFile.c_str()), 0);
    EXPECT_EQ(add("&b@example.org"), 1);
    EXPECT_EQ(readFile(victim), "root:secret\n");
    EXPECT_EQ(statOf(victim).st_uid, 0u);
    EXPECT_EQ(statOf(victim).st_mode & 07777, 0644u);
}

} // namespace
} // namespace korvo::test
