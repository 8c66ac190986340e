// The server settings commands against the real postconf and postmap; relaying
// and the letter size proved through a running Postfix.
#include "CommandFixture.h"

#include <chrono>
#include <thread>

namespace korvo::test {
namespace {

const char courierPop3d[] = "/etc/courier-imap/pop3d";

std::string blacklist() {
    return runCommand({"/usr/sbin/postmap", "-s", "hash:/var/spool/postfix/korvo/blacklists"}).out;
}

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

TEST_F(SettingsCommandsTest, FeaturesAndLetterSize) {
    const CommandResult features = runVornctl({"--features", "--ignored", "--help"});
    EXPECT_EQ(features.status, 0);
    EXPECT_EQ(features.err, "");
    const std::vector<std::string> out = lines(features.out);
    ASSERT_EQ(out.size(), 58u);
    EXPECT_EQ(out[0], "$features['MailName_SetName'] = true;");
    EXPECT_EQ(out[51], "$features['SMTP_Server'] = \"Postfix\";");

    // Size zero takes the mailbox limit.
    setPostconf("mailbox_size_limit=51200000");
    const CommandResult set = runVornctl({"--set-max-letter-size", "--size=0"});
    EXPECT_EQ(set.status, 0) << set.err;
    EXPECT_EQ(postconf("message_size_limit"), "51200000");
    EXPECT_NE(readFile("/run/vornctl-sandbox/postfix.calls").find("args: reload"),
              std::string::npos);
    ASSERT_EQ(runVornctl({"--set-max-letter-size", "--si=1234"}).status, 0); // a prefix will do
    EXPECT_EQ(runVornctl({"--get-max-letter-size"}).out, "1234\n");
    EXPECT_EQ(runVornctl({"--get-mailbox-size-limit"}).out, "51200000\n");
    const std::vector<std::vector<std::string>> refused = {
        {"--size=big"}, {"--size=1", "--bogus"}, {"--size=1", "--size=2"}};
    for (const std::vector<std::string>& options : refused) {
        std::vector<std::string> args = {"--set-max-letter-size"};
        args.insert(args.end(), options.begin(), options.end());
        EXPECT_EQ(runVornctl(args).status, 1) << options.back();
    }
    EXPECT_EQ(postconf("message_size_limit"), "1234");
    setPostconf("message_size_limit=unlimited");
    const CommandResult bad = runVornctl({"--get-max-letter-size"});
    EXPECT_EQ(bad.status, 1);
    EXPECT_EQ(bad.err.rfind("Fatal error: boost::", 0), 0u) << bad.err;
}

TEST_F(SettingsCommandsTest, MailParamsPickTheRelayModeAndWriteCourierVariables) {
    const std::string check = ", check_client_access pcre:/var/spool/postfix/korvo/no_relay.re, ";
    writeFile(courierPop3d, "PORT=110\nRELAYCLIENT=\nPOPLOCK_TIME=30\n");
    const std::vector<std::pair<std::string, std::string>> modes = {
        {"--relayclient", "permit" + check + "reject"},
        {"--smtpauth", "permit_mynetworks" + check +
                           "permit_sasl_authenticated, "
                           "reject_unauth_destination"},
        {"--poplock-time=30", "permit_mynetworks" + check + "reject_unauth_destination"}};
    for (const auto& [option, restrictions] : modes) {
        EXPECT_EQ(runVornctl({"--set-mail-params", option}).status, 0) << option;
        EXPECT_EQ(postconf("smtpd_recipient_restrictions"), restrictions) << option;
    }
    EXPECT_EQ(readFile(courierPop3d), "PORT=110\nPOPLOCK_TIME=30\n");

    const CommandResult open = runVornctl(
        {"--set-mail-params", "--relayclient", "--smtpauth", "--popauth", "--poplock-time=60"});
    EXPECT_EQ(open.status, 0) << open.err;
    EXPECT_EQ(readFile(courierPop3d), "PORT=110\nPOPLOCK_TIME=60\nRELAYCLIENT=\nPOPAUTH=1\n");
    EXPECT_NE(readFile("/run/vornctl-sandbox/courier-imap.calls").find("restart"),
              std::string::npos);

    const Snapshot before = takeSnapshot();
    const CommandResult shortNames = runVornctl({"--set-mail-params", "--shortnames"});
    EXPECT_EQ(shortNames.status, 1);
    EXPECT_EQ(shortNames.err, "Fatal error: korvo::NotSupportedError(short account-format is not "
                              "supported for Postfix isn't supported)\n");
    EXPECT_TRUE(compareSnapshots(before, takeSnapshot()));
}

TEST_F(SettingsCommandsTest, SpfAndAccountsFormat) {
    // "-" stands for empty rules.
    EXPECT_EQ(runVornctl({"--update-spf", "--spf-rules=-", "--spf-exp=see example.com"}).status, 0);
    EXPECT_EQ(::access("/etc/orq-spf/spfrules", F_OK), 0);
    EXPECT_TRUE(readFile("/etc/orq-spf/spfrules").empty());
    EXPECT_EQ(readFile("/etc/orq-spf/spfexp"), "see example.com");
    expectHostileNamesRefused({"--update-spf", "--spf-behavior=3", "--spf-rules=NAME"},
                              {"a\nb", "a\tb", "\xff\xfe", "x\r"});

    writeFile(courierPop3d, "SHORTNAMES=1\nPORT=110\n");
    for (const char* refused : {"--account-format=both", "--account-format=Compound"})
        EXPECT_EQ(runVornctl({"--set-accounts-format", refused}).status, 1) << refused;
    EXPECT_EQ(readFile(courierPop3d), "SHORTNAMES=1\nPORT=110\n");
    EXPECT_EQ(runVornctl({"--set-accounts-format", "--account-format=compound"}).status, 0);
    EXPECT_EQ(readFile(courierPop3d), "PORT=110\n");
}

TEST_F(SettingsCommandsTest, MapsZonesWhiteListAndBadMailFrom) {
    ASSERT_EQ(runVornctl({"--set-maps-protection", "--maps-zones=a.example, b.example",
                          "--maps-zones=c.example"})
                  .status,
              0);
    EXPECT_NE(postconf("smtpd_client_restrictions")
                  .find("reject_rbl_client a.example, reject_rbl_client b.example, "
                        "reject_rbl_client c.example"),
              std::string::npos);
    ASSERT_EQ(runVornctl({"--set-maps-protection"}).status, 0);
    EXPECT_EQ(postconf("smtpd_client_restrictions").find("reject_rbl_client"), std::string::npos);

    setPostconf("mynetworks=127.0.0.0/8, 10.1.0.0/16");
    ASSERT_EQ(runVornctl({"--add-whitelist", "--ip-address=192.0.2.0", "--netmask=24"}).status, 0);
    ASSERT_EQ(runVornctl({"--add-whitelist", "--ip-address=192.0.2.1", "--netmask=32"}).status, 0);
    ASSERT_EQ(runVornctl({"--remove-whitelist", "--ip-address=10.1.0.0", "--netmask=16"}).status,
              0);
    // The loopback network stays whatever the panel asks.
    ASSERT_EQ(runVornctl({"--remove-whitelist", "--ip-address=127.0.0.0", "--netmask=8"}).status,
              0);
    EXPECT_EQ(postconf("mynetworks"), "127.0.0.0/8, 192.0.2.0/24, 192.0.2.1/32");
    // Malformed masks are refused cleanly (the sanitized build traps overflows).
    for (const char* mask : {"--netmask=33", "--netmask=2x4567", "--netmask=+", "--netmask=123456"})
        EXPECT_EQ(runVornctl({"--add-whitelist", "--ip-address=192.0.2.0", mask}).status, 1)
            << mask;

    ASSERT_EQ(runVornctl({"--add-badmailfrom", "--domain-name=b\xc3\xbc"
                                               "cher.example"})
                  .status,
              0);
    ASSERT_EQ(runVornctl({"--add-badmailfrom", "--domain-name=spam.example"}).status, 0);
    ASSERT_EQ(runVornctl({"--remove-badmailfrom", "--domain-name=spam.example"}).status, 0);
    EXPECT_EQ(blacklist(), "xn--bcher-kva.example\tREJECT\n");

    expectHostileNamesRefused({"--remove-whitelist", "--ip-address=NAME", "--netmask=24"});
    // Blanks, tabs and commas separate zones; everything else must be a name.
    expectHostileNamesRefused({"--set-maps-protection", "--maps-zones=ok.example,NAME"},
                              {"/", "..", "../../etc", "a\nb", "a'b", "a\"b", "$(touch /tmp/pwned)",
                               std::string(300, 'x'), "\xff\xfe"});
}

// Sends one RCPT from a client address, retrying while a reload settles.
std::string rcptReply(const std::string& client, const std::string& expectPrefix) {
    std::string reply;
    for (int attempt = 0; attempt < 10; ++attempt) {
        SmtpClient smtp(client);
        smtp.send("EHLO client.example");
        smtp.send("MAIL FROM:<sender@client.example>");
        reply = smtp.send("RCPT TO:<someone@remote.example>");
        if (reply.rfind(expectPrefix, 0) == 0)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
    return reply;
}

class SettingsThroughPostfixTest : public RunningPostfixTest {};

// What --set-mail-params writes decides who may relay; --set-max-letter-size
// makes Postfix refuse larger mail.
TEST_F(SettingsThroughPostfixTest, RelayModeAndLetterSizeHold) {
    // The tool names the table of clients refused relaying; the panel fills it.
    writeFile("/var/spool/postfix/korvo/no_relay.re", "");
    startPostfix();
    const std::string denied = "554 5.7.1 <someone@remote.example>: Relay access denied";
    ASSERT_EQ(runVornctl({"--set-mail-params"}).status, 0);
    EXPECT_EQ(rcptReply("127.0.0.2", "554"), denied);
    EXPECT_EQ(rcptReply("127.0.0.1", "250"), "250 2.1.5 Ok");

    ASSERT_EQ(runVornctl({"--set-mail-params", "--relayclient"}).status, 0);
    EXPECT_EQ(rcptReply("127.0.0.2", "250"), "250 2.1.5 Ok");

    ASSERT_EQ(runVornctl({"--set-mail-params", "--smtpauth"}).status, 0);
    EXPECT_EQ(rcptReply("127.0.0.2", "554"), denied);

    ASSERT_EQ(runVornctl({"--set-max-letter-size", "--size=2000"}).status, 0);
    std::string reply;
    for (int attempt = 0; attempt < 20 && reply.rfind("552", 0) != 0; ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(attempt ? 500 : 0));
        SmtpClient smtp("127.0.0.1");
        smtp.send("EHLO client.example");
        smtp.send("MAIL FROM:<sender@client.example>");
        smtp.send("RCPT TO:<someone@remote.example>");
        smtp.send("DATA");
        reply = smtp.sendMessage("Subject: big\r\n\r\n" + std::string(3000, 'x'));
    }
    EXPECT_EQ(reply.rfind("552 5.3.4", 0), 0u) << reply;

    SmtpClient small("127.0.0.1");
    small.send("EHLO client.example");
    EXPECT_EQ(small.send("MAIL FROM:<sender@client.example> SIZE=1500").rfind("250", 0), 0u);
    small.send("RCPT TO:<someone@remote.example>");
    small.send("DATA");
    EXPECT_EQ(small.sendMessage("Subject: small\r\n\r\nhello").rfind("250", 0), 0u);
}

} // namespace
} // namespace korvo::test
