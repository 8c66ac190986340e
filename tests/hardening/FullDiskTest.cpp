// A full file system under a directory the tool writes: a command fails with a
// message and loses nothing stored, unless its change fits in allocated space.
#include "hardening/HardeningFixture.h"

#include <cstdio>
#include <sys/mount.h>

namespace korvo::test {
namespace {

const char stage[] = "/mnt/vornctl-full";

class FullDiskTest : public HardeningTest {
protected:
    void SetUp() override {
        HardeningTest::SetUp();
        addDomain("main.test");
        addMailname("main.test", "info");
        vornctl({"--add-mailbox", "--domain-name=main.test", "--mailname=info"});
        vornctl({"--add-redirect", "--domain-name=main.test", "--mailname=info",
                 "--redirect-email=first@example.org"});
        vornctl({"--set-mailbox-disk-quota", "--domain-name=main.test", "--mailname=info",
                 "--disk-quota=100000"});
    }

    void TearDown() override {
        if (!full_.empty())
            ::umount2(full_.c_str(), MNT_DETACH);
        ::umount2(stage, MNT_DETACH);
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

    // Each command fails with a message and loses nothing stored, or succeeds;
    // files stay whole. keepsSteps: a failed multi-table command may keep the
    // tables it changed before (only wholeness is checked).
    void expectRefusedOrWhole(const std::vector<std::vector<std::string>>& commands,
                              bool keepsSteps = false) {
        for (const auto& args : commands) {
            const Snapshot before = takeSnapshot();
            const CommandResult result = runVornctl(args);
            const Snapshot after = takeSnapshot();
            const std::vector<std::string> lost = missingFrom(before.lines, after.lines);
            const std::vector<std::string> added = missingFrom(after.lines, before.lines);
            if (result.status != 0) {
                EXPECT_FALSE(result.err.empty()) << full_ << ": " << args[0] << " said nothing";
                if (!keepsSteps) {
                    EXPECT_TRUE(lost.empty()) << full_ << ": " << args[0] << " lost\n"
                                              << testing::PrintToString(lost);
                }
            }
            EXPECT_TRUE(damage().empty()) << full_ << ": " << args[0] << "\n"
                                          << testing::PrintToString(damage());
            std::printf("full disk: %s %s: status %d, %zu entries changed or gone, %zu new\n",
                        full_.c_str(), args[0].c_str(), result.status, lost.size(), added.size());
        }
    }

private:
    std::string full_;
};

TEST_F(FullDiskTest, FullMailHomesRefuseChangesAndKeepTheirFiles) {
    fill("/var/qmail");
    expectRefusedOrWhole({
        {"--add-mailname", "--domain-name=main.test", "--mailname=fresh"},
        {"--add-redirect", "--domain-name=main.test", "--mailname=info",
         "--redirect-email=second@example.org"},
        {"--remove-redirect", "--domain-name=main.test", "--mailname=info",
         "--redirect-email=first@example.org"},
        {"--set-mailbox-disk-quota", "--domain-name=main.test", "--mailname=info",
         "--disk-quota=200000"},
        {"--remove-mailbox", "--domain-name=main.test", "--mailname=info"},
    });
    const CommandResult added = runVornctl(
        {"--add-mailname", "--domain-name=main.test", "--mailname=fresh", "--disk-quota=5000"});
    EXPECT_NE(added.status, 0);
    EXPECT_FALSE(hardening_detail::exists(mailHome("main.test", "fresh"))) << added.err;
    EXPECT_NE(added.err.find("No space left on device)"), std::string::npos) << added.err;
}

TEST_F(FullDiskTest, FullTableDirectoryRefusesChangesAndKeepsItsTables) {
    fill("/var/spool/postfix/korvo");
    expectRefusedOrWhole(
        {{"--add-domain", "--domain-name=fresh.test"},
         {"--add-alias", "--domain-name=main.test", "--mailname=info", "--alias=other"},
         {"--add-badmailfrom", "--domain-name=spam.test"},
         {"--remove-domain", "--domain-name=main.test"}},
        true);
}

TEST_F(FullDiskTest, FullPostfixConfigurationRefusesChangesAndKeepsItsFiles) {
    fill("/etc/postfix");
    expectRefusedOrWhole({
        {"--set-max-letter-size", "--size=2000000"},
        {"--add-whitelist", "--ip-address=10.1.0.0", "--netmask=16"},
        {"--enable-message-submission"},
    });
}

TEST_F(FullDiskTest, FullCourierDirectoryRefusesChangesAndKeepsItsFiles) {
    fill("/etc/courier-imap");
    expectRefusedOrWhole({
        {"--set-mail-params", "--relayclient", "--popauth", "--poplock-time=60"},
    });
}

} // namespace
} // namespace korvo::test
