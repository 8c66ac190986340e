// Mail homes as delivery and IMAP find them; backups and removals stay inside.
#include "StorageFixture.h"

#include "utils/Exceptions.h"

#include <boost/filesystem/operations.hpp>
#include <cstdlib>
#include <sched.h>
#include <sys/mount.h>
#include <vector>

namespace {

using korvo::mail::FSError;
using korvo::test::readFile;
using korvo::test::statOf;
using korvo::test::writeFile;

class MaildirManagerTest : public korvo::test::StorageTest {
protected:
    // The home and its nine subdirectories, in creation order.
    static std::vector<std::string> homeDirectories(const std::string& home) {
        return {home,
                home + "/Maildir",
                home + "/Maildir/tmp",
                home + "/Maildir/new",
                home + "/Maildir/cur",
                home + "/Maildir/.Spam",
                home + "/Maildir/.Spam/tmp",
                home + "/Maildir/.Spam/new",
                home + "/Maildir/.Spam/cur",
                home + "/@attachments"};
    }

    void expectPopuserDirectories(const std::string& home) {
        for (const std::string& dir : homeDirectories(home)) {
            const struct stat st = statOf(dir);
            EXPECT_TRUE(S_ISDIR(st.st_mode)) << dir;
            EXPECT_EQ(st.st_mode & 07777, 0700u) << dir;
            EXPECT_EQ(st.st_uid, popUid) << dir;
            EXPECT_EQ(st.st_gid, popGid) << dir;
        }
    }
};

TEST_F(MaildirManagerTest, PathsFollowTheConfiguredRootAndRefuseClimbingNames) {
    EXPECT_EQ(manager().getMailnameRelativeHome("example.com", "info"), "example.com/info");
    for (const char* bad : {"", ".", "..", "a/b"}) {
        EXPECT_THROW(manager().getDomainRoot(bad), FSError) << bad;
        EXPECT_THROW(manager().removeMailnameHome("example.com", bad), FSError) << bad;
    }
    EXPECT_TRUE(boost::filesystem::exists("/var/qmail") && !boost::filesystem::exists(root));

    // The configuration is read once per process.
    EXPECT_EXIT(
        {
            writeFile("/etc/orq/orq.conf", "KORVO_MAILNAMES_D /srv/mail\n");
            std::exit(manager().getMailnameHome("example.com", "info") ==
                              "/srv/mail/example.com/info"
                          ? 0
                          : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(MaildirManagerTest, HomeIsCreatedAndRecreatedWithPopuserOwnerAndMode) {
    const std::string home = makeHome("example.com", "info");
    expectPopuserDirectories(home);
    const struct stat domainRoot = statOf(manager().getDomainRoot("example.com"));
    EXPECT_EQ(domainRoot.st_mode & 07777, 0700u);
    EXPECT_EQ(domainRoot.st_uid, 0u);

    // Re-creating resets owners and modes and keeps the mail.
    writeFile(home + "/Maildir/cur/1.host,S=5", "hello");
    ASSERT_EQ(::chmod((home + "/Maildir/.Spam/new").c_str(), 0755), 0);
    ASSERT_EQ(::chown((home + "/@attachments").c_str(), 0, 0), 0);
    ASSERT_EQ(::rmdir((home + "/Maildir/.Spam/tmp").c_str()), 0);
    makeHome("example.com", "info");
    expectPopuserDirectories(home);
    EXPECT_EQ(readFile(home + "/Maildir/cur/1.host,S=5"), "hello");
}

TEST_F(MaildirManagerTest, DomainRootBelongsToRootWithPopuserGroup) {
    manager().createDomainRoot("example.com");
    ASSERT_EQ(::chmod("/var/qmail/mailnames/example.com", 0777), 0);
    manager().createDomainRoot("example.com");
    const struct stat st = statOf("/var/qmail/mailnames/example.com");
    EXPECT_EQ(st.st_mode & 07777, 0750u);
    EXPECT_EQ(st.st_uid, 0u);
    EXPECT_EQ(st.st_gid, popGid);
}

TEST_F(MaildirManagerTest, FailedRecreationRemovesTheHomeButNothingOutside) {
    const std::string home = makeHome("example.com", "info");
    // A Maildir swapped for a link to root's directory: never chown through it.
    boost::filesystem::remove_all(home + "/Maildir");
    ASSERT_EQ(::symlink((std::string(outside) + "/dir").c_str(), (home + "/Maildir").c_str()), 0);
    const auto before = outsideState();
    try {
        manager().createMailnameHome("example.com", "info");
        ADD_FAILURE() << "no error";
    } catch (const FSError& e) {
        EXPECT_EQ(std::string(e.what()), "open: Not a directory: \"" + home + "/Maildir\"");
    }
    EXPECT_FALSE(boost::filesystem::exists(boost::filesystem::symlink_status(home)));
    EXPECT_EQ(outsideState(), before);

    // A domain root that is a file fails before any home exists.
    writeFile("/var/qmail/mailnames/broken.example", "");
    EXPECT_THROW(manager().createMailnameHome("broken.example", "info"),
                 boost::filesystem::filesystem_error);
    EXPECT_EQ(readFile("/var/qmail/mailnames/broken.example"), "");
}

TEST_F(MaildirManagerTest, BackupsAreNamedByInode) {
    const std::string home = makeHome("example.com", "info");
    const ino_t homeInode = statOf(home).st_ino;
    manager().backupMailnameHome("example.com", "info");
    EXPECT_TRUE(boost::filesystem::is_directory(home + ".KorvoSaved." + std::to_string(homeInode)));
    EXPECT_FALSE(boost::filesystem::exists(home));
    manager().backupMailnameHome("example.com", "info");
    manager().backupDomainRoot("missing.example");
    EXPECT_FALSE(boost::filesystem::exists("/var/qmail/mailnames/missing.example"));

    const std::string domainRoot = manager().getDomainRoot("example.com");
    const ino_t rootInode = statOf(domainRoot).st_ino;
    manager().backupDomainRoot("example.com");
    EXPECT_TRUE(boost::filesystem::is_directory(domainRoot + ".KorvoSaved." +
                                                std::to_string(rootInode) + "/info.KorvoSaved." +
                                                std::to_string(homeInode)));

    std::string backupName = "unchanged";
    EXPECT_TRUE(korvo::mail::backupRename("/var/qmail/mailnames/none/x", backupName));
    EXPECT_EQ(backupName, "");
}

TEST_F(MaildirManagerTest, RemovalsDeleteTheirTreeWithoutFollowingLinks) {
    const std::string home = makeHome("example.com", "info");
    makeHome("example.com", "sales");
    writeFile(home + "/Maildir/cur/1.host,S=5", "hello");
    ASSERT_EQ(::symlink(outside, (home + "/Maildir/.Evil").c_str()), 0);
    ASSERT_EQ(::symlink((std::string(outside) + "/victim").c_str(),
                        (home + "/@attachments/victim").c_str()),
              0);
    const auto before = outsideState();

    manager().removeMailnameHome("example.com", "info");
    EXPECT_FALSE(boost::filesystem::exists(home));
    manager().removeMailnameHome("example.com", "info");
    ASSERT_EQ(::symlink(outside, home.c_str()), 0);
    manager().removeMailnameHome("example.com", "info");
    EXPECT_FALSE(boost::filesystem::exists(boost::filesystem::symlink_status(home)));

    manager().removeDomainRoot("example.com");
    manager().removeDomainRoot("missing.example");
    EXPECT_TRUE(boost::filesystem::is_empty(root));
    EXPECT_EQ(outsideState(), before);
}

TEST_F(MaildirManagerTest, WithoutTheMailAccountEveryUseFails) {
    // The child hides popuser behind a private copy of the account file.
    EXPECT_EXIT(
        {
            if (::unshare(CLONE_NEWNS) != 0 ||
                ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                korvo::test::shell("grep -v '^popuser:' /etc/passwd > /var/qmail/passwd.nopop") !=
                    0 ||
                ::mount("/var/qmail/passwd.nopop", "/etc/passwd", nullptr, MS_BIND, nullptr) != 0)
                std::exit(3);
            try {
                manager();
            } catch (const korvo::SystemError& e) {
                std::exit(std::string(e.what()).rfind("user popuser not found", 0) == 0 ? 0 : 2);
            }
            std::exit(1);
        },
        ::testing::ExitedWithCode(0), "");
}

} // namespace
