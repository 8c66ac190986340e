// A full file system under a directory the tool writes: a command fails with a
// message and loses nothing stored, unless its change fits in allocated space.
#include "hardening/HardeningFixture.h"

#include <sys/mount.h>

namespace korvo::test {
namespace {

const char stage[] = "/mnt/vornctl-full";

// What a refused command may leave of the steps it made before the failing one.
enum Kept { nothing, additions, changes };

struct Filesystem {
    std::string dir;
    std::vector<std::vector<std::string>> commands;
    Kept kept;
};

class FullDiskTest : public HardeningTest {
protected:
    void TearDown() override {
        empty();
        HardeningTest::TearDown();
    }

    // Copies dir onto a small tmpfs bound over it, then fills that tmpfs.
    void fill(const std::string& dir) {
        ASSERT_EQ(shell("mkdir -p " + std::string(stage) + " && mount -t tmpfs -o size=4m x " +
                        stage + " && cp -a " + dir + "/. " + stage + "/ && mount --bind " + stage +
                        " " + dir),
                  0);
        full_ = dir;
        shell("dd if=/dev/zero of=" + dir + "/.filler bs=4k 2>/dev/null");
        shell("dd if=/dev/zero of=" + dir + "/.filler-tail bs=64 2>/dev/null");
        ASSERT_NE(shell("echo x > " + dir + "/.probe 2>/dev/null"), 0) << dir << " is not full";
    }

    // Unbinds the full copy: dir shows what it held before.
    void empty() {
        if (!full_.empty())
            ::umount2(full_.c_str(), MNT_DETACH);
        ::umount2(stage, MNT_DETACH);
        full_.clear();
    }

private:
    std::string full_;
};

TEST_F(FullDiskTest, CommandsOnAFullFileSystemFailWithAMessageAndKeepTheirFiles) {
    addMailbox();
    writeFile("/etc/orq/old.key", "old key\n");
    writeFile("/etc/orq/new.key", "new key\n");
    succeeds({"--set-domain-key", "--domain-name=main.test", "--file-name=/etc/orq/old.key"});
    succeeds({"--update-spf", "--spf-behavior=2", "--spf-rules=include:old.test"});
    const std::vector<Filesystem> filesystems = {
        {"/var/qmail",
         {{"--add-mailname", "--domain-name=main.test", "--mailname=fresh", "--disk-quota=5000"},
          {"--add-redirect", "--domain-name=main.test", "--mailname=info",
           "--redirect-email=second@example.org"},
          {"--set-mailbox-disk-quota", "--domain-name=main.test", "--mailname=info",
           "--disk-quota=200000"},
          {"--remove-mailbox", "--domain-name=main.test", "--mailname=info"}},
         nothing},
        {"/var/spool/postfix/korvo",
         {{"--add-domain", "--domain-name=fresh.test"},
          {"--add-alias", "--domain-name=main.test", "--mailname=info", "--alias=other"},
          {"--remove-domain", "--domain-name=main.test"}},
         changes},
        {"/etc/postfix",
         {{"--set-max-letter-size", "--size=2000000"},
          {"--enable-message-submission"}},
         nothing},
        {"/etc/courier-imap", {{"--set-mail-params", "--relayclient", "--popauth"}}, nothing},
        // The directory of a domain's key is made before the key is copied.
        {"/etc/domainkeys",
         {{"--set-domain-key", "--domain-name=main.test,fresh.test",
           "--file-name=/etc/orq/new.key"},
          {"--set-domain-key", "--domain-name=fresh.test", "--file-name=/etc/orq/new.key"}},
         additions},
        {"/etc/orq-spf",
         {{"--update-spf", "--spf-behavior=3", "--spf-rules=include:new.test",
           "--spf-guess=v=spf1 mx", "--spf-exp=refused"}},
         nothing},
    };
    for (const Filesystem& filesystem : filesystems) {
        fill(filesystem.dir);
        int refused = 0;
        for (const auto& args : filesystem.commands) {
            const std::string where = filesystem.dir + ": " + args[0];
            const Snapshot before = takeSnapshot();
            const CommandResult result = runVornctl(args);
            const Snapshot after = takeSnapshot();
            const std::vector<std::string> lost = missingFrom(before.lines, after.lines);
            const std::vector<std::string> added = missingFrom(after.lines, before.lines);
            if (result.status != 0) {
                ++refused;
                EXPECT_FALSE(result.err.empty()) << where << " said nothing";
                EXPECT_TRUE(lost.empty() || filesystem.kept == changes)
                    << where << " lost\n"
                    << testing::PrintToString(lost);
                EXPECT_TRUE(added.empty() || filesystem.kept != nothing)
                    << where << " added\n"
                    << testing::PrintToString(added);
            }
            EXPECT_TRUE(damage().empty()) << where << "\n" << testing::PrintToString(damage());
        }
        EXPECT_GT(refused, 0) << filesystem.dir << ": no command needed space";
        empty();
    }
}

} // namespace
} // namespace korvo::test
