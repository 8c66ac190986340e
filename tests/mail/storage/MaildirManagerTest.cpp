// Mail homes as delivery and IMAP find them; removals stay inside.
#include "StorageFixture.h"

#include "utils/Exceptions.h"

#include <boost/filesystem/operations.hpp>

namespace {

using korvo::mail::FSError;
using namespace korvo::test;
namespace fs = boost::filesystem;

class MaildirManagerTest : public StorageTest {
protected:
    void expectPopuserDirectories(const std::string& home) {
        for (const char* dir :
             {"", "/Maildir", "/Maildir/tmp", "/Maildir/new", "/Maildir/cur", "/Maildir/.Spam",
              "/Maildir/.Spam/tmp", "/Maildir/.Spam/new", "/Maildir/.Spam/cur", "/@attachments"}) {
            const struct stat st = statOf(home + dir);
            EXPECT_TRUE(S_ISDIR(st.st_mode) && (st.st_mode & 07777) == 0700 &&
                        st.st_uid == popUid && st.st_gid == popGid)
                << dir;
        }
    }
};

TEST_F(MaildirManagerTest, HomesAndDomainRootsAreCreatedAndRecreatedWithOwnerAndMode) {
    const std::string home = makeHome("example.com", "info");
    expectPopuserDirectories(home);
    // Re-creating resets owners and modes and keeps the mail.
    writeFile(home + "/Maildir/cur/1.host,S=5", "hello");
    ASSERT_EQ(shell("chmod 755 " + home + "/Maildir/.Spam/new && chown root: " + home +
                    "/@attachments && rmdir " + home + "/Maildir/.Spam/tmp"),
              0);
    makeHome("example.com", "info");
    expectPopuserDirectories(home);
    EXPECT_EQ(readFile(home + "/Maildir/cur/1.host,S=5"), "hello");

    ASSERT_EQ(::chmod("/var/qmail/mailnames/example.com", 0777), 0);
    manager().createDomainRoot("example.com");
    const struct stat st = statOf("/var/qmail/mailnames/example.com");
    EXPECT_EQ(st.st_mode & 07777, 0750u);
    EXPECT_EQ(st.st_uid, 0u);
    EXPECT_EQ(st.st_gid, popGid);
}

TEST_F(MaildirManagerTest, FailedRecreationTakesBackOnlyWhatItMade) {
    const std::string home = makeHome("example.com", "info");
    for (const char* name : {"1.host,S=5", "2.host,S=5", "3.host,S=5"})
        writeFile(home + "/Maildir/cur/" + name, "hello");
    // The run makes .Spam/tmp again, then finds a file where .Spam/cur was.
    ASSERT_EQ(shell("rmdir " + home + "/Maildir/.Spam/tmp && rmdir " + home +
                    "/Maildir/.Spam/cur && echo x > " + home + "/Maildir/.Spam/cur"),
              0);
    EXPECT_THROW(manager().createMailnameHome("example.com", "info"), FSError);
    EXPECT_EQ(runCommand({"/bin/sh", "-c", "cd " + home + " && find . | sort"}).out,
              ".\n./@attachments\n./Maildir\n./Maildir/.Spam\n./Maildir/.Spam/cur\n"
              "./Maildir/.Spam/new\n./Maildir/cur\n./Maildir/cur/1.host,S=5\n"
              "./Maildir/cur/2.host,S=5\n./Maildir/cur/3.host,S=5\n./Maildir/new\n./Maildir/tmp\n");

    // A Maildir swapped for a link to root's directory: never chown through it.
    ASSERT_EQ(shell("rm -r " + home + "/Maildir && ln -s " + outside + "/dir " + home + "/Maildir"),
              0);
    const std::string before = outsideState();
    EXPECT_THROW(manager().createMailnameHome("example.com", "info"), FSError);
    EXPECT_TRUE(fs::is_symlink(home + "/Maildir"));
    EXPECT_EQ(outsideState(), before);

    // A domain root that is a file fails before any home exists.
    writeFile("/var/qmail/mailnames/broken.example", "");
    EXPECT_THROW(manager().createMailnameHome("broken.example", "info"), fs::filesystem_error);
    EXPECT_EQ(readFile("/var/qmail/mailnames/broken.example"), "");
}

TEST_F(MaildirManagerTest, RemovalsDeleteTheirTreeWithoutFollowingLinks) {
    const std::string home = makeHome("example.com", "info");
    makeHome("example.com", "sales");
    ASSERT_EQ(shell(std::string("ln -s ") + outside + " " + home + "/Maildir/.Evil && ln -s " +
                    outside + "/victim " + home + "/@attachments/victim"),
              0);
    const std::string before = outsideState();
    manager().removeMailnameHome("example.com", "info");
    EXPECT_FALSE(fs::exists(home));
    manager().removeMailnameHome("example.com", "info");
    ASSERT_EQ(::symlink(outside, home.c_str()), 0);
    manager().removeMailnameHome("example.com", "info");
    EXPECT_FALSE(fs::exists(fs::symlink_status(home)));

    manager().removeDomainRoot("example.com");
    manager().removeDomainRoot("missing.example");
    EXPECT_TRUE(fs::is_empty(root));
    EXPECT_EQ(outsideState(), before);
}

} // namespace
