// The line editor changes .qmail files that belong to the mail account and
// are read by the delivery agent at any moment: it must keep their owner and
// mode and must never expose a half-written file.
#include "utils/FileStr.h"
#include "sandbox/Sandbox.h"
#include "sandbox/TestFiles.h"
#include "utils/Accounts.h"
#include "utils/FileUtils.h"
#include "utils/Locks.h"

#include <csignal>
#include <functional>
#include <regex>
#include <sys/wait.h>
#include <unistd.h>

namespace korvo::test {
namespace {

using FileStrTest = SandboxTest;

bool traced(pid_t pid) {
    const std::string status = readFile("/proc/" + std::to_string(pid) + "/status");
    return status.find("TracerPid:\t0\n") == std::string::npos;
}

// The fsync and rename calls a forked process makes while it runs body, as
// strace records them.
std::string syncAndRenameCalls(const std::function<void()>& body) {
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
    for (int wait = 0; wait < 500 && !traced(child); ++wait)
        ::usleep(10000);
    ::write(go[1], "g", 1);
    ::waitpid(child, nullptr, 0);
    ::waitpid(tracer, nullptr, 0);
    return readFile(log);
}

const std::string dir = "/var/qmail/mailnames/example.com/info";
const std::string qmail = dir + "/.qmail";

TEST_F(FileStrTest, EditsKeepAnotherAccountsOwnerAndMode) {
    ASSERT_EQ(shell("mkdir -p " + dir), 0);
    writeFile(qmail, "| true\n&a@example.org\n| true");
    ASSERT_EQ(file_set_user_mode(qmail.c_str(), "popuser", 0600), 0);
    EXPECT_EQ(file_set_user_mode(qmail.c_str(), "nosuchuser", 0644), -1);
    // A link the mail account planted is refused, not followed.
    writeFile("/etc/orq/outside", "root's\n");
    ASSERT_EQ(::symlink("/etc/orq/outside", (dir + "/planted").c_str()), 0);
    EXPECT_EQ(file_set_user_mode((dir + "/planted").c_str(), "popuser", 0666), -1);
    EXPECT_EQ(statOf("/etc/orq/outside").st_uid, 0u);
    const unsigned int popuser = korvo_ugid("popuser", 0);

    EXPECT_EQ(file_str(qmail.c_str(), "| true\n", FILE_STR_REMOVE, 0), 0);
    EXPECT_EQ(file_str(qmail.c_str(), "&b@example.org", FILE_STR_ADD, FILE_STR_END), 0);
    const char* const head[] = {"# forwards", "| /usr/bin/deliverquota ./Maildir\n", nullptr};
    EXPECT_EQ(file_strings(qmail.c_str(), head, FILE_STR_ADD, FILE_STR_BEGIN), 0);
    EXPECT_EQ(file_str(qmail.c_str(), "&absent@example.org", FILE_STR_REMOVE, 0), 0);

    EXPECT_EQ(readFile(qmail), "# forwards\n| /usr/bin/deliverquota ./Maildir\n"
                               "&a@example.org\n&b@example.org\n");
    EXPECT_EQ(statOf(qmail).st_uid, popuser);
    EXPECT_EQ(statOf(qmail).st_mode & 07777, 0600u);
    EXPECT_NE(::access((qmail + ".tmp").c_str(), F_OK), 0);
}

TEST_F(FileStrTest, OnlyAnAppendCreatesAMissingFile) {
    ASSERT_EQ(shell("mkdir -p " + dir), 0);
    EXPECT_EQ(file_str(qmail.c_str(), "| true", FILE_STR_REMOVE, 0), 1);
    EXPECT_EQ(file_str(qmail.c_str(), "| true", FILE_STR_ADD, FILE_STR_BEGIN), 1);
    EXPECT_EQ(file_str(qmail.c_str(), "| true", FILE_STR_ADD, FILE_STR_END), 0);
    EXPECT_EQ(readFile(qmail), "| true\n");
    EXPECT_EQ(statOf(qmail).st_uid, ::getuid());
}

TEST_F(FileStrTest, ReadersNeverSeeAHalfWrittenFile) {
    ASSERT_EQ(shell("mkdir -p " + dir), 0);
    std::string lines;
    for (int i = 0; i < 3000; ++i)
        lines += "&forward" + std::to_string(i) + "@example.org\n";
    writeFile(qmail, lines);
    const pid_t editor = ::fork();
    if (editor == 0) {
        for (int i = 0; i < 40; ++i)
            if (file_str(qmail.c_str(), "# marker", FILE_STR_ADD, FILE_STR_BEGIN) != 0 ||
                file_str(qmail.c_str(), "# marker", FILE_STR_REMOVE, 0) != 0)
                ::_exit(1);
        ::_exit(0);
    }
    int status = 0;
    while (::waitpid(editor, &status, WNOHANG) == 0) {
        const std::string seen = readFile(qmail);
        ASSERT_TRUE(seen == lines || seen == "# marker\n" + lines) << seen.size();
    }
    EXPECT_EQ(status, 0);

    // A copy that cannot be written leaves the file as it was.
    ASSERT_EQ(::mkdir((qmail + ".tmp").c_str(), 0755), 0);
    EXPECT_EQ(file_str(qmail.c_str(), "&forward1@example.org", FILE_STR_REMOVE, 0), 1);
    EXPECT_EQ(readFile(qmail), lines);
}

TEST_F(FileStrTest, ARewriteIsOnDiskBeforeAndAfterItsRename) {
    ASSERT_EQ(shell("mkdir -p " + dir), 0);
    writeFile(qmail, "| true\n");
    const std::string calls = syncAndRenameCalls(
        [] { file_str(qmail.c_str(), "&a@example.org", FILE_STR_ADD, FILE_STR_BEGIN); });
    EXPECT_TRUE(std::regex_search(calls, std::regex("fsync\\(\\d+\\) += 0\n"
                                                    "rename\\(\"" +
                                                    qmail + ".tmp\", \"" + qmail +
                                                    "\"\\) += 0\n"
                                                    "fsync\\(\\d+\\) += 0\n")))
        << calls;
    EXPECT_EQ(readFile(qmail), "&a@example.org\n| true\n");
}

// The mail account owns its mail home and may plant links in it; the tool
// runs as root and must never write, truncate or chown what they point to.
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
    EXPECT_EQ(file_str(qmail.c_str(), "| true", FILE_STR_REMOVE, 0), 0);
    EXPECT_EQ(readFile(qmail), "&a@example.org\n");
    victimUntouched();

    // At the file itself: neither appended to, nor read and copied.
    ASSERT_EQ(::unlink(qmail.c_str()), 0);
    ASSERT_EQ(::symlink(victim.c_str(), qmail.c_str()), 0);
    EXPECT_EQ(file_str(qmail.c_str(), "&evil@example.org", FILE_STR_ADD, FILE_STR_END), 1);
    EXPECT_EQ(file_str(qmail.c_str(), "# x", FILE_STR_ADD, FILE_STR_BEGIN), 1);
    EXPECT_EQ(file_str(qmail.c_str(), "x", FILE_STR_REMOVE, 0), 1);
    EXPECT_TRUE(S_ISLNK(statOf(qmail).st_mode));
    victimUntouched();

    // A FIFO in its place is refused, not waited on.
    ASSERT_EQ(::unlink(qmail.c_str()), 0);
    ASSERT_EQ(::mkfifo(qmail.c_str(), 0644), 0);
    EXPECT_EQ(file_str(qmail.c_str(), "&b@example.org", FILE_STR_ADD, FILE_STR_END), 1);

    // At the lock file: the lock fails rather than truncate the target.
    ASSERT_EQ(::unlink(qmail.c_str()), 0);
    const std::string lockFile = mk_flock_path(qmail.c_str());
    ASSERT_EQ(::unlink(lockFile.c_str()), 0);
    ASSERT_EQ(::symlink(victim.c_str(), lockFile.c_str()), 0);
    EXPECT_EQ(file_str(qmail.c_str(), "&b@example.org", FILE_STR_ADD, FILE_STR_END), 1);
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
            for (;;)
                if (file_str(qmail.c_str(), "# marker", FILE_STR_ADD, FILE_STR_BEGIN) != 0 ||
                    file_str(qmail.c_str(), "# marker", FILE_STR_REMOVE, 0) != 0)
                    ::_exit(1);
        }
        ::usleep(2000 + 3000 * round);
        ::kill(editor, SIGKILL);
        ::waitpid(editor, nullptr, 0);
        const std::string seen = readFile(qmail);
        ASSERT_TRUE(seen == lines || seen == "# marker\n" + lines) << seen.size();
        // A copy left behind by the killed editor is no obstacle.
        EXPECT_EQ(file_str(qmail.c_str(), "# marker", FILE_STR_REMOVE, 0), 0);
        EXPECT_EQ(readFile(qmail), lines);
        EXPECT_NE(::access((qmail + ".tmp").c_str(), F_OK), 0);
    }
}

} // namespace
} // namespace korvo::test
