// The line editor rewrites .qmail files the delivery agent reads at any
// moment, in homes the mail account controls, as root.
#include "utils/FileStr.h"
#include "sandbox/Sandbox.h"
#include "sandbox/TestFiles.h"
#include "utils/Accounts.h"
#include "utils/FileUtils.h"
#include "utils/Locks.h"

#include <csignal>
#include <regex>
#include <sys/wait.h>
#include <unistd.h>

namespace korvo::test {
namespace {

using FileStrTest = SandboxTest;

const std::string dir = "/var/qmail/mailnames/example.com/info";
const std::string qmail = dir + "/.qmail";

int add(const char* line, int where = FILE_STR_END) {
    return file_str(qmail.c_str(), line, FILE_STR_ADD, where);
}
int remove(const char* line) {
    return file_str(qmail.c_str(), line, FILE_STR_REMOVE, 0);
}

TEST_F(FileStrTest, EditsKeepOwnerAndModeAndOnlyAnAppendCreatesAFile) {
    ASSERT_EQ(shell("mkdir -p " + dir), 0);
    EXPECT_EQ(remove("| true"), 1);
    EXPECT_EQ(add("| true", FILE_STR_BEGIN), 1);
    EXPECT_EQ(add("| true"), 0);
    EXPECT_EQ(readFile(qmail), "| true\n");
    writeFile(qmail, "| true\n&a@example.org\n| true");
    ASSERT_EQ(file_set_user_mode(qmail.c_str(), "popuser", 0600), 0);
    EXPECT_EQ(file_set_user_mode(qmail.c_str(), "nosuchuser", 0644), -1);
    writeFile("/etc/orq/outside", "root's\n");
    ASSERT_EQ(::symlink("/etc/orq/outside", (dir + "/planted").c_str()), 0);
    EXPECT_EQ(file_set_user_mode((dir + "/planted").c_str(), "popuser", 0666), -1);
    EXPECT_EQ(statOf("/etc/orq/outside").st_uid, 0u);

    EXPECT_EQ(remove("| true\n"), 0);
    EXPECT_EQ(add("&b@example.org"), 0);
    const char* const head[] = {"# forwards", "| /usr/bin/deliverquota ./Maildir\n", nullptr};
    EXPECT_EQ(file_strings(qmail.c_str(), head, FILE_STR_ADD, FILE_STR_BEGIN), 0);
    EXPECT_EQ(remove("&absent@example.org"), 0);
    const std::string edited =
        "# forwards\n| /usr/bin/deliverquota ./Maildir\n&a@example.org\n&b@example.org\n";
    EXPECT_EQ(readFile(qmail), edited);
    EXPECT_EQ(statOf(qmail).st_uid, korvo_ugid("popuser", 0));
    EXPECT_EQ(statOf(qmail).st_mode & 07777, 0600u);
    EXPECT_NE(::access((qmail + ".tmp").c_str(), F_OK), 0);
    // A copy that cannot be written leaves the file as it was.
    ASSERT_EQ(::mkdir((qmail + ".tmp").c_str(), 0755), 0);
    EXPECT_EQ(remove("&a@example.org"), 1);
    EXPECT_EQ(readFile(qmail), edited);
}

// The fsync and rename calls a forked process makes while it runs body.
std::string syncAndRenameCalls(void (*body)()) {
    int go[2];
    if (::pipe(go) != 0)
        return "";
    const pid_t child = ::fork();
    if (child == 0) {
        char byte;
        if (::read(go[0], &byte, 1) == 1)
            body();
        ::_exit(0);
    }
    const std::string log = "/run/vornctl-sandbox/strace.log";
    const pid_t tracer = ::fork();
    if (tracer == 0) {
        ::execl("/usr/bin/strace", "strace", "-qq", "-e", "trace=fsync,rename", "-o", log.c_str(),
                "-p", std::to_string(child).c_str(), nullptr);
        ::_exit(127);
    }
    const std::string status = "/proc/" + std::to_string(child) + "/status";
    for (int wait = 0; wait < 500 && readFile(status).find("TracerPid:\t0\n") != std::string::npos;
         ++wait)
        ::usleep(10000);
    ::write(go[1], "g", 1);
    ::waitpid(child, nullptr, 0);
    ::waitpid(tracer, nullptr, 0);
    return readFile(log);
}

TEST_F(FileStrTest, ARewriteIsOnDiskBeforeAndAfterItsRename) {
    ASSERT_EQ(shell("mkdir -p " + dir), 0);
    writeFile(qmail, "| true\n");
    const std::string calls = syncAndRenameCalls([] { add("&a@example.org", FILE_STR_BEGIN); });
    EXPECT_TRUE(std::regex_search(calls, std::regex("fsync\\(\\d+\\) += 0\nrename\\(\"" + qmail +
                                                    ".tmp\", \"" + qmail +
                                                    "\"\\) += 0\nfsync\\(\\d+\\) += 0\n")))
        << calls;
    EXPECT_EQ(readFile(qmail), "&a@example.org\n| true\n");
}

TEST_F(FileStrTest, LinksPlantedByTheMailAccountAreNeverFollowed) {
    const std::string victim = "/etc/vornctl-victim";
    writeFile(victim, "root:secret\n");
    ASSERT_EQ(::chmod(victim.c_str(), 0600), 0);
    ASSERT_EQ(shell("mkdir -p " + dir + " && chown popuser:popuser " + dir), 0);
    writeFile(qmail, "| true\n&a@example.org\n");
    ASSERT_EQ(file_set_user_mode(qmail.c_str(), "popuser", 0644), 0);
    const auto victimUntouched = [&] {
        EXPECT_EQ(readFile(victim), "root:secret\n");
        EXPECT_EQ(statOf(victim).st_uid, 0u);
        EXPECT_EQ(statOf(victim).st_mode & 07777, 0600u);
    };
    // At the temporary name: removed, not written through.
    ASSERT_EQ(::symlink(victim.c_str(), (qmail + ".tmp").c_str()), 0);
    EXPECT_EQ(remove("| true"), 0);
    EXPECT_EQ(readFile(qmail), "&a@example.org\n");
    victimUntouched();
    // At the file itself: neither appended to, nor read and copied.
    ASSERT_EQ(::unlink(qmail.c_str()), 0);
    ASSERT_EQ(::symlink(victim.c_str(), qmail.c_str()), 0);
    EXPECT_EQ(add("&evil@example.org"), 1);
    EXPECT_EQ(add("# x", FILE_STR_BEGIN), 1);
    EXPECT_EQ(remove("x"), 1);
    EXPECT_TRUE(S_ISLNK(statOf(qmail).st_mode));
    victimUntouched();
    // A FIFO in its place is refused, not waited on.
    ASSERT_EQ(::unlink(qmail.c_str()), 0);
    ASSERT_EQ(::mkfifo(qmail.c_str(), 0644), 0);
    EXPECT_EQ(add("&b@example.org"), 1);
    // At the lock file: the lock fails rather than truncate the target.
    ASSERT_EQ(::unlink(qmail.c_str()), 0);
    const std::string lockFile = mk_flock_path(qmail.c_str());
    ASSERT_EQ(::unlink(lockFile.c_str()), 0);
    ASSERT_EQ(::symlink(victim.c_str(), lockFile.c_str()), 0);
    EXPECT_EQ(add("&b@example.org"), 1);
    victimUntouched();
}

TEST_F(FileStrTest, AnEditorKilledMidWriteLeavesTheOldOrTheNewContent) {
    ASSERT_EQ(shell("mkdir -p " + dir), 0);
    std::string lines;
    for (int i = 0; i < 20000; ++i)
        lines += "&forward" + std::to_string(i) + "@example.org\n";
    writeFile(qmail, lines);
    for (int round = 0; round < 10; ++round) {
        const pid_t editor = ::fork();
        if (editor == 0) {
            while (add("# marker", FILE_STR_BEGIN) == 0 && remove("# marker") == 0) {
            }
            ::_exit(1);
        }
        ::usleep(2000 + 3000 * round);
        ::kill(editor, SIGKILL);
        ::waitpid(editor, nullptr, 0);
        const std::string seen = readFile(qmail);
        ASSERT_TRUE(seen == lines || seen == "# marker\n" + lines) << seen.size();
        // A copy left behind by the killed editor is no obstacle.
        EXPECT_EQ(remove("# marker"), 0);
        EXPECT_EQ(readFile(qmail), lines);
        EXPECT_NE(::access((qmail + ".tmp").c_str(), F_OK), 0);
    }
}

} // namespace
} // namespace korvo::test
