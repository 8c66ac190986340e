// The authenticating services read these rows: a wrong column, a lost row
// or a failure under contention locks mail users out.
#include "mail/auth/MailAuth.h"
#include "mail/auth/MailAuthDB.h"
#include "sandbox/MailAuthDatabase.h"

#include <chrono>
#include <gtest/gtest.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using korvo::test::authSql;
using korvo::test::authUsers;
using korvo::test::mailAuthPath;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

class MailAuthTest : public korvo::test::MailAuthDatabaseTest {};

// A wrong style would make POP3/IMAP logins read another database.
TEST(MailAuthDBTest, OnlyKnownStylesMoveTheDatabase) {
    mailAuthDBSelectStyle(1);
    EXPECT_EQ(mailAuthDB, "/var/spool/postfix/korvo/passwd.db");
    mailAuthDBSelectStyle(2);
    EXPECT_EQ(mailAuthDB, "/var/spool/postfix/korvo/passwd.db");
    mailAuthDBSelectStyle(0);
    EXPECT_EQ(mailAuthDB, "/var/lib/korvo/mail/auth/passwd.db");
}

TEST_F(MailAuthTest, WritesReplaceTheRowAndOnlyTheDomainFlagDisablesANewDomain) {
    EXPECT_EQ(mailAuthSet("info", "example.com", "$1$crypt", Crypted | UserDisabled), 0);
    EXPECT_EQ(authUsers(), "info@example.com|NULL|$1$crypt|1|0\n");
    EXPECT_EQ(set_postbox_passwd("info", "example.com", "plain2", 0), 0);
    EXPECT_EQ(authUsers(), "info@example.com|plain2|NULL|0|0\n");
    EXPECT_EQ(mailAuthSet("sales", "example.com", "x", 0), 0);
    EXPECT_EQ(set_postbox_passwd("info", "example.com", "", Crypted), 0);
    EXPECT_EQ(set_postbox_passwd("sales", "example.com", nullptr, 0), 0);
    EXPECT_EQ(authUsers(), "");
    EXPECT_EQ(authSql("SELECT name, status FROM domains"), "example.com|0\n");

    EXPECT_EQ(mailAuthSet("a", "off.example", "pw", DomainDisabled), 0);
    EXPECT_EQ(mailAuthSet("b", "off.example", "pw", 0), 0);
    EXPECT_EQ(mailAuthSet("a", "on.example", "pw", UserDisabled), 0);
    EXPECT_EQ(mailAuthSet("b", "on.example", "pw", DomainDisabled), 0);
    EXPECT_EQ(authUsers(), "a@off.example|pw|NULL|0|1\n"
                           "b@off.example|pw|NULL|0|1\n"
                           "a@on.example|pw|NULL|1|0\n"
                           "b@on.example|pw|NULL|0|0\n");
    EXPECT_EQ(mailAuthRemove("a", "unknown.example"), 0);
    EXPECT_EQ(authSql("SELECT count(*) FROM domains WHERE name='unknown.example'"), "0\n");
}

TEST_F(MailAuthTest, DomainStatusLeavesUsersAndRemovalTakesThem) {
    ASSERT_EQ(mailAuthSet("info", "example.com", "pw", 0), 0);
    ASSERT_EQ(mailAuthSet("off", "example.com", "pw", UserDisabled), 0);
    ASSERT_EQ(mailAuthSet("info", "other.example", "pw", 0), 0);

    EXPECT_EQ(mailAuthDisableDomain("example.com"), 0);
    EXPECT_EQ(authUsers(), "info@example.com|pw|NULL|0|1\n"
                           "off@example.com|pw|NULL|1|1\n"
                           "info@other.example|pw|NULL|0|0\n");
    EXPECT_EQ(mailAuthEnableDomain("example.com"), 0);
    EXPECT_EQ(authSql("SELECT name, status FROM domains ORDER BY name"),
              "example.com|0\nother.example|0\n");
    EXPECT_EQ(mailAuthRemoveDomain("example.com"), 0);
    EXPECT_EQ(mailAuthRemoveDomain("missing.example"), 0);
    EXPECT_EQ(authUsers(), "info@other.example|pw|NULL|0|0\n");
}

TEST_F(MailAuthTest, RenameAndCloneKeepPasswordAndFlags) {
    ASSERT_EQ(mailAuthSet("old", "example.com", "$1$x", Crypted | UserDisabled | DomainDisabled),
              0);
    ASSERT_EQ(mailAuthSet("taken", "example.com", "pw", 0), 0);
    EXPECT_EQ(mailAuthRename("old", "boss", "example.com"), 0);
    EXPECT_EQ(mailAuthRename("ghost", "other", "example.com"), 0);
    EXPECT_EQ(mailAuthClone("boss", "example.com", "boss", "alias.example"), 0);
    EXPECT_EQ(mailAuthClone("ghost", "example.com", "ghost", "new.example"), 0);
    EXPECT_EQ(authUsers(), "boss@alias.example|NULL|$1$x|1|1\n"
                           "boss@example.com|NULL|$1$x|1|1\n"
                           "taken@example.com|pw|NULL|0|1\n");
    EXPECT_EQ(authSql("SELECT count(*) FROM domains WHERE name='new.example'"), "0\n");

    CaptureStdout();
    EXPECT_EQ(mailAuthRename("boss", "x", "missing.example"), -1);
    EXPECT_EQ(mailAuthRename("boss", "taken", "example.com"), -1);
    EXPECT_EQ(GetCapturedStdout(),
              "No such domain 'missing.example' in the mail authentication DB\n"
              "Unable to execute the mail authorization renaming query: UNIQUE constraint "
              "failed: users.name, users.dom_id\n");
}

TEST_F(MailAuthTest, FailuresNameTheFileAndSqlitesReason) {
    ASSERT_EQ(unlink(mailAuthPath), 0);
    CaptureStdout();
    EXPECT_EQ(mailAuthSet("info", "example.com", "pw", 0), -1);
    EXPECT_EQ(mailAuthClone("info", "example.com", "info", "alias.example"), -1);
    EXPECT_EQ(GetCapturedStdout(),
              "Unable to open database /var/spool/postfix/korvo/passwd.db: unable to open "
              "database file\n"
              "Unable to open database(readonly) /var/spool/postfix/korvo/passwd.db: unable to "
              "open database file\n");
    EXPECT_NE(access(mailAuthPath, F_OK), 0) << "the tool must never create the database";

    authSql("CREATE TABLE domains (id INTEGER PRIMARY KEY, name VARCHAR(255), status INTEGER)");
    CaptureStdout();
    EXPECT_EQ(mailAuthSet("info", "example.com", "pw", 0), -1);
    EXPECT_NE(GetCapturedStdout().find("no such table: users"), std::string::npos);
}

// The holder keeps the lock far past the 50 ms busy timeout and registers the
// very domain the writer finds missing: the writer waits and uses that row.
TEST_F(MailAuthTest, WriterWaitsOutALongLockAndARivalRegistration) {
    const std::string flag = "/var/spool/postfix/korvo/locked";
    const pid_t holder = fork();
    ASSERT_GE(holder, 0);
    if (holder == 0) {
        const std::string script =
            "printf '.timeout 5000\\nBEGIN IMMEDIATE;\\n"
            "INSERT INTO domains (name, status) VALUES (\\047example.com\\047, 1);\\n"
            ".shell touch " +
            flag + " && sleep 0.6\\nCOMMIT;\\n' | sqlite3 -batch " + mailAuthPath;
        execl("/bin/sh", "sh", "-c", script.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    while (access(flag.c_str(), F_OK) != 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(mailAuthSet("info", "example.com", "pw", 0), 0);
    EXPECT_GT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));
    int status = 0;
    ASSERT_EQ(waitpid(holder, &status, 0), holder);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(authUsers(), "info@example.com|pw|NULL|0|1\n");
}

// All writers start at once on a domain none of them finds registered.
TEST_F(MailAuthTest, TwentyWritersAtOnceLoseNothing) {
    int gate[2];
    ASSERT_EQ(pipe(gate), 0);
    std::vector<pid_t> children;
    for (int w = 0; w < 20; ++w) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            close(gate[1]);
            char byte;
            (void)!read(gate[0], &byte, 1);
            int failed = 0;
            for (int u = 0; u < 10; ++u) {
                const std::string name = "user" + std::to_string(w) + "_" + std::to_string(u);
                failed |= mailAuthSet(name.c_str(), "busy.example", "pw", u % 2 ? Crypted : 0);
            }
            _exit(failed ? 1 : 0);
        }
        children.push_back(pid);
    }
    close(gate[0]);
    close(gate[1]);
    for (const pid_t pid : children) {
        int status = -1;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "writer status " << status;
    }
    EXPECT_EQ(authSql("SELECT count(DISTINCT name), count(*) FROM users"), "200|200\n");
    EXPECT_EQ(authSql("SELECT count(*) FROM domains"), "1\n");
}

} // namespace
