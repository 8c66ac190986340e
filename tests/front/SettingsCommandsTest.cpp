// The server settings commands against the real postconf and postmap; relaying
// and the letter size proved through a running Postfix.
#include "CommandFixture.h"
#include "sandbox/PostmapTables.h"

#include <tuple>

namespace korvo::test {
namespace {

const char courierPop3d[] = "/etc/courier-imap/pop3d";

class SettingsCommandsTest : public SandboxTest {
protected:
    void SetUp() override {
        SandboxTest::SetUp();
        // Reloads are recorded, not done: no Postfix runs in these tests.
        ASSERT_EQ(shell(sandboxFile("postfix-standin") + " on"), 0);
        ::mkdir("/etc/courier-imap", 0755);
    }
    void TearDown() override { shell(sandboxFile("postfix-standin") + " off"); }
};

TEST_F(SettingsCommandsTest, LetterSize) {
    // Size zero takes the mailbox limit; a prefix of the option will do.
    setPostconf("mailbox_size_limit=51200000");
    ok({"--set-max-letter-size", "--size=0"});
    EXPECT_EQ(postconf("message_size_limit"), "51200000");
    EXPECT_NE(readFile("/run/vornctl-sandbox/postfix.calls").find("args: reload"),
              std::string::npos);
    ok({"--set-max-letter-size", "--si=1234"});
    EXPECT_EQ(runVornctl({"--get-max-letter-size"}).out, "1234\n");
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"--set-max-letter-size", "--size=big"},
                                               {"--set-max-letter-size", "--size=1", "--bogus"},
                                               {"--set-max-letter-size", "--size=1", "--size=2"}})
        EXPECT_EQ(runVornctl(args).status, 1) << args.back();
    EXPECT_EQ(postconf("message_size_limit"), "1234");
    setPostconf("message_size_limit=unlimited");
    EXPECT_EQ(runVornctl({"--get-max-letter-size"}).status, 1);
}

// Which relay mode each option picks is proved through Postfix below.
TEST_F(SettingsCommandsTest, MailParamsWriteCourierVariablesAndSpfAndAccountsFormat) {
    writeFile(courierPop3d, "PORT=110\nPOPLOCK_TIME=30\n");
    succeeds(
        {"--set-mail-params", "--relayclient", "--smtpauth", "--popauth", "--poplock-time=60"});
    EXPECT_EQ(readFile(courierPop3d), "PORT=110\nPOPLOCK_TIME=60\nRELAYCLIENT=\nPOPAUTH=1\n");
    const Snapshot before = takeSnapshot();
    EXPECT_EQ(runVornctl({"--set-mail-params", "--shortnames"}).status, 1);
    EXPECT_TRUE(compareSnapshots(before, takeSnapshot()));

    writeFile(courierPop3d, "SHORTNAMES=1\nPORT=110\n");
    for (const char* refused : {"--account-format=both", "--account-format=Compound"})
        EXPECT_EQ(runVornctl({"--set-accounts-format", refused}).status, 1) << refused;
    EXPECT_EQ(readFile(courierPop3d), "SHORTNAMES=1\nPORT=110\n");
    succeeds({"--set-accounts-format", "--account-format=compound"});
    EXPECT_EQ(readFile(courierPop3d), "PORT=110\n");

    // "-" stands for empty rules.
    ok({"--update-spf", "--spf-rules=-", "--spf-exp=see example.com"});
    EXPECT_EQ(::access("/etc/orq-spf/spfrules", F_OK), 0);
    EXPECT_TRUE(readFile("/etc/orq-spf/spfrules").empty());
    EXPECT_EQ(readFile("/etc/orq-spf/spfexp"), "see example.com");
    expectHostileNamesRefused({"--update-spf", "--spf-behavior=3", "--spf-rules=NAME"},
                              {"a\nb", "a\tb", "\xff\xfe", "x\r"});
}

TEST_F(SettingsCommandsTest, MapsZonesWhiteListAndBadMailFrom) {
    ok({"--set-maps-protection", "--maps-zones=a.example, b.example", "--maps-zones=c.example"});
    EXPECT_NE(postconf("smtpd_client_restrictions")
                  .find("reject_rbl_client a.example, reject_rbl_client b.example, "
                        "reject_rbl_client c.example"),
              std::string::npos);

    // The loopback network stays whatever the panel asks.
    setPostconf("mynetworks=127.0.0.0/8, 10.1.0.0/16");
    for (const auto& [word, network, mask] :
         std::vector<std::tuple<std::string, std::string, std::string>>{
             {"--add-whitelist", "192.0.2.0", "24"},
             {"--add-whitelist", "192.0.2.1", "32"},
             {"--remove-whitelist", "10.1.0.0", "16"},
             {"--remove-whitelist", "127.0.0.0", "8"}})
        ok({word, "--ip-address=" + network, "--netmask=" + mask});
    EXPECT_EQ(postconf("mynetworks"), "127.0.0.0/8, 192.0.2.0/24, 192.0.2.1/32");
    // Malformed masks are refused cleanly (the sanitized build traps overflows).
    for (const char* mask : {"--netmask=33", "--netmask=2x4567", "--netmask=+", "--netmask=123456"})
        EXPECT_EQ(runVornctl({"--add-whitelist", "--ip-address=192.0.2.0", mask}).status, 1)
            << mask;

    ok({"--add-badmailfrom", "--domain-name=Bücher.example"});
    ok({"--add-badmailfrom", "--domain-name=spam.example"});
    ok({"--remove-badmailfrom", "--domain-name=spam.example"});
    EXPECT_EQ(dumpTable("hash:/var/spool/postfix/korvo/blacklists"),
              (TableContent{{"xn--bcher-kva.example", "REJECT"}}));

    expectHostileNamesRefused({"--remove-whitelist", "--ip-address=NAME", "--netmask=24"});
    // Blanks, tabs and commas separate zones; everything else must be a name.
    expectHostileNamesRefused({"--set-maps-protection", "--maps-zones=ok.example,NAME"},
                              {"../../etc", "a\nb", "$(touch /tmp/pwned)", overLongName, "\xff"});
}

// One transaction from a client address up to RCPT, or with a message of
// size bytes after it; retried while a reload settles.
std::string reply(const std::string& client, const std::string& expectPrefix,
                  std::size_t size = 0) {
    const std::string message = size > 0 ? "Subject: size\n\n" + std::string(size, 'x') + "\n" : "";
    std::string last;
    waitUntil(
        [&] {
            last =
                smtpTransaction("sender@client.example", "someone@remote.example", message, client);
            return last.rfind(expectPrefix, 0) == 0;
        },
        10, std::chrono::milliseconds(500));
    return last;
}

class SettingsThroughPostfixTest : public RunningPostfixTest {};

// What --set-mail-params writes decides who may relay; --set-max-letter-size
// makes Postfix refuse larger mail.
TEST_F(SettingsThroughPostfixTest, RelayModeAndLetterSizeHold) {
    // The tool names the table of clients refused relaying; the panel fills it.
    writeFile("/var/spool/postfix/korvo/no_relay.re", "");
    startPostfix();
    const std::string denied = "554 5.7.1 <someone@remote.example>: Relay access denied";
    succeeds({"--set-mail-params"});
    EXPECT_EQ(reply("127.0.0.2", "554"), denied);
    EXPECT_EQ(reply("127.0.0.1", "250"), "250 2.1.5 Ok");
    succeeds({"--set-mail-params", "--relayclient"});
    EXPECT_EQ(reply("127.0.0.2", "250"), "250 2.1.5 Ok");

    ok({"--set-max-letter-size", "--size=2000"});
    EXPECT_EQ(reply("127.0.0.1", "552", 3000).rfind("552 5.3.4", 0), 0u);
    EXPECT_EQ(reply("127.0.0.1", "250", 100).rfind("250", 0), 0u);
}

} // namespace
} // namespace korvo::test
