// POP3/IMAP logins read these rows: a wrong column or a lost row locks users out.
#include "mail/auth/MailAuth.h"
#include "mail/auth/MailAuthDB.h"
#include "postfix/config/ConcurrentRuns.h"
#include "sandbox/CapturedOutput.h"
#include "sandbox/MailAuthDatabase.h"

#include <chrono>
#include <gtest/gtest.h>
#include <stdexcept>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

using namespace korvo::test;

class MailAuthTest : public MailAuthDatabaseTest {};

TEST_F(MailAuthTest, RowsThroughSetRenameCloneAndDomainStatus) {
    // No password removes the row and leaves the domain registered.
    EXPECT_EQ(mailAuthSet("info", "example.com", "$1$c", Crypted | UserDisabled), 0);
    EXPECT_EQ(set_postbox_passwd("info", "example.com", "", Crypted), 0);
    // Only the call that registers a domain sets its status; users keep their own.
    ASSERT_EQ(mailAuthSet("old", "off.example", "$1$x", Crypted | UserDisabled | DomainDisabled),
              0);
    ASSERT_EQ(mailAuthSet("taken", "off.example", "pw", 0), 0);
    ASSERT_EQ(mailAuthSet("a", "example.com", "pw", DomainDisabled), 0);
    EXPECT_EQ(mailAuthRename("old", "boss", "off.example"), 0);
    EXPECT_EQ(mailAuthRename("ghost", "other", "off.example"), 0);
    EXPECT_EQ(mailAuthClone("boss", "off.example", "boss", "alias.example"), 0);
    EXPECT_EQ(mailAuthClone("ghost", "off.example", "ghost", "new.example"), 0);
    EXPECT_EQ(mailAuthRename("boss", "x", "missing.example"), -1);
    EXPECT_EQ(mailAuthRename("boss", "taken", "off.example"), -1);
    EXPECT_EQ(authUsers(), "boss@alias.example|NULL|$1$x|1|1\n"
                           "a@example.com|pw|NULL|0|0\n"
                           "boss@off.example|NULL|$1$x|1|1\n"
                           "taken@off.example|pw|NULL|0|1\n");

    EXPECT_EQ(mailAuthRemoveDomain("off.example"), 0);
    EXPECT_EQ(authUsers(), "boss@alias.example|NULL|$1$x|1|1\na@example.com|pw|NULL|0|0\n");
}

// The style picks the database POP3/IMAP logins read; the tool never creates it.
TEST_F(MailAuthTest, FailuresNameTheFileAndCreateNoDatabase) {
    ASSERT_EQ(unlink(mailAuthPath), 0);
    for (const auto& [style, path] : {std::pair<int, std::string>{2, mailAuthPath},
                                      {0, "/var/lib/korvo/mail/auth/passwd.db"}}) {
        mailAuthDBSelectStyle(style);
        CapturedStdout capturedStdout;
        EXPECT_EQ(mailAuthSet("info", "example.com", "pw", 0), -1);
        EXPECT_EQ(mailAuthClone("info", "example.com", "info", "alias.example"), -1);
        EXPECT_NE(capturedStdout.text().find(path + ": unable to open database file"),
                  std::string::npos)
            << style;
        EXPECT_NE(access(path.c_str(), F_OK), 0) << path;
    }
    mailAuthDBSelectStyle(1);
}

// A holder keeps the lock far past the busy timeout and registers the domain all writers miss.
TEST_F(MailAuthTest, TwentyWritersWaitOutALongLockAndARivalRegistration) {
    const std::string flag = "/var/spool/postfix/korvo/locked";
    const std::string script =
        "printf '.timeout 5000\\nBEGIN IMMEDIATE;\\n"
        "INSERT INTO domains (name, status) VALUES (\\047busy.example\\047, 1);\\n"
        ".shell touch " +
        flag + " && sleep 0.6\\nCOMMIT;\\n' | sqlite3 -batch " + mailAuthPath;
    std::thread holder([&] { EXPECT_EQ(shell(script), 0); });
    while (access(flag.c_str(), F_OK) != 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(runConcurrently(20, [](int w) {
        for (int u = 0; u < 10; ++u) {
            const std::string name = "user" + std::to_string(w) + "_" + std::to_string(u);
            if (mailAuthSet(name.c_str(), "busy.example", "pw", u % 2 ? Crypted : 0) != 0)
                throw std::runtime_error(name + " not stored");
        }
    }));
    EXPECT_GT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));
    holder.join();
    EXPECT_EQ(authSql("SELECT count(DISTINCT name), count(*) FROM users"), "200|200\n");
    EXPECT_EQ(authSql("SELECT name, status FROM domains"), "busy.example|1\n");
}

} // namespace
