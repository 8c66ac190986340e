// The line editor changes .qmail files that belong to the mail account and
// are read by the delivery agent at any moment: it must keep their owner and
// mode and must never expose a half-written file.
#include "utils/FileStr.h"
#include "sandbox/Sandbox.h"
#include "utils/Accounts.h"
#include "utils/FileUtils.h"
#include "sandbox/TestFiles.h"

#include <sys/wait.h>
#include <unistd.h>

namespace korvo::test {
namespace {

using FileStrTest = SandboxTest;

const std::string dir = "/var/qmail/mailnames/example.com/info";
const std::string qmail = dir + "/.qmail";

TEST_F(FileStrTest, EditsKeepAnotherAccountsOwnerAndMode) {
    ASSERT_EQ(shell("mkdir -p " + dir), 0);
    writeFile(qmail, "| true\n&a@example.org\n| true");
    ASSERT_EQ(file_set_user_mode(qmail.c_str(), "popuser", 0600), 0);
    EXPECT_EQ(file_set_user_mode(qmail.c_str(), "nosuchuser", 0644), -1);
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

} // namespace
} // namespace korvo::test
