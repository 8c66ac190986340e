#include "postfix/managers/SettingsManager.h"

#include "front/CommandFixture.h"

#include <atomic>
#include <boost/algorithm/string/trim.hpp>
#include <functional>
#include <sstream>
#include <thread>

using korvo::mail::postfix::SettingsManager;
using korvo::test::runCommand;
using korvo::test::shell;

namespace {

std::string postconf(const std::string& name) {
    return boost::algorithm::trim_copy(runCommand({"/usr/sbin/postconf", "-h", name}).out);
}

using SettingsManagerTest = korvo::test::SandboxTest;

TEST_F(SettingsManagerTest, RelayModesLeaveTheExpectedRestrictions) {
    const std::string check = ", check_client_access pcre:/var/spool/postfix/korvo/no_relay.re, ";
    const std::string closed = "permit_mynetworks" + check + "reject_unauth_destination";
    const std::string auth =
        "permit_mynetworks" + check + "permit_sasl_authenticated, reject_unauth_destination";
    SettingsManager::setOpenRelay();
    EXPECT_EQ(postconf("smtpd_recipient_restrictions"), "permit" + check + "reject");
    EXPECT_EQ(postconf("smtpd_relay_restrictions"),
              "check_client_access static:OK, reject_unauth_destination");
    SettingsManager::setClosedRelay();
    EXPECT_EQ(postconf("smtpd_recipient_restrictions"), closed);
    EXPECT_EQ(postconf("smtpd_relay_restrictions"), "");

    SettingsManager::setOpenRelay();
    SettingsManager::setAuthRelay(true, true);
    SettingsManager::setAuthRelay(true, true);
    EXPECT_EQ(postconf("smtpd_sasl_auth_enable"), "yes");
    EXPECT_EQ(postconf("smtpd_recipient_restrictions"), auth);
    EXPECT_EQ(postconf("smtpd_relay_restrictions"), "");
    EXPECT_EQ(postconf("mynetworks"), "127.0.0.0/8 [::ffff:127.0.0.0]/104 [::1]/128, "
                                      "hash:/var/spool/postfix/korvo/poplock");

    SettingsManager::setOpenRelay();
    SettingsManager::setAuthRelay(boost::logic::indeterminate, false);
    EXPECT_EQ(postconf("smtpd_sasl_auth_enable"), "yes");
    EXPECT_EQ(postconf("smtpd_recipient_restrictions"), "permit" + check + "reject");
    EXPECT_EQ(postconf("mynetworks"), "127.0.0.0/8, [::ffff:127.0.0.0]/104, [::1]/128");

    SettingsManager::setAuthRelay(false, boost::logic::indeterminate);
    EXPECT_EQ(postconf("smtpd_sasl_auth_enable"), "no");
    EXPECT_EQ(postconf("smtpd_recipient_restrictions"), closed);
    EXPECT_EQ(postconf("smtpd_relay_restrictions"), "");
}

TEST_F(SettingsManagerTest, RblHostsReplaceOnlyTheRblChecks) {
    ASSERT_EQ(shell("postconf -e 'smtpd_client_restrictions=permit_mynetworks "
                    "reject_rbl_client old.example,, reject_unknown_client_hostname, "
                    "reject_rbl_client older.example reject_unauth_pipelining, "
                    "reject_rhsbl_client rhs.example'"),
              0);
    const std::vector<std::string> hosts{"b.example", "", "a.example"};
    SettingsManager::setRBLHosts(hosts.begin(), hosts.end());
    const std::string kept = "permit_mynetworks, reject_unknown_client_hostname, "
                             "reject_unauth_pipelining, reject_rhsbl_client rhs.example";
    EXPECT_EQ(postconf("smtpd_client_restrictions"),
              kept + ", reject_rbl_client b.example, reject_rbl_client a.example");
    SettingsManager::setRBLHosts(hosts.end(), hosts.end());
    EXPECT_EQ(postconf("smtpd_client_restrictions"), kept);
}

TEST_F(SettingsManagerTest, BlackListedDomainIsOneRecordUntilRemoved) {
    const std::vector<std::string> dump{"/usr/sbin/postmap", "-s",
                                        "hash:/var/spool/postfix/korvo/blacklists"};
    SettingsManager::addBlackDomain("spam.example");
    SettingsManager::addBlackDomain("spam.example");
    EXPECT_EQ(runCommand(dump).out, "spam.example\tREJECT\n");
    SettingsManager::removeBlackDomain("spam.example");
    SettingsManager::removeBlackDomain("spam.example");
    EXPECT_EQ(runCommand(dump).out, "");
}

// Postfix with one client per smtpd, so each conversation reads main.cf anew.
class RelayModeTest : public korvo::test::RunningPostfixTest {
protected:
    void SetUp() override {
        RunningPostfixTest::SetUp();
        korvo::test::writeFile("/var/spool/postfix/korvo/no_relay.re", "");
        korvo::test::setPostconf("max_use=1");
        startPostfix();
    }

    // Traffic during change: an smtpd starting between two postconf runs shows in the log.
    static void changeUnderTraffic(const std::function<void()>& change) {
        std::atomic<bool> done{false};
        std::thread traffic([&done] {
            while (!done)
                korvo::test::SmtpClient("127.0.0.2").send("QUIT");
        });
        change();
        done = true;
        traffic.join();
    }

    static std::string fatalLines() {
        std::string lines;
        std::istringstream log(korvo::test::readFile("/var/spool/postfix/maillog"));
        for (std::string line; std::getline(log, line);)
            if (line.find("fatal:") != std::string::npos)
                lines += line + "\n";
        return lines;
    }
};

TEST_F(RelayModeTest, EachModeHoldsForAForeignClientAndSmtpdKeepsAnswering) {
    const std::string denied = "Relay access denied";
    const struct {
        const char* name;
        std::function<void()> set;
        bool relayDenied;
    } modes[] = {
        {"closed", SettingsManager::setClosedRelay, true},
        {"open", SettingsManager::setOpenRelay, false},
        {"authenticated", [] { SettingsManager::setAuthRelay(true, false); }, true},
        {"open again", SettingsManager::setOpenRelay, false},
        {"authenticated without SMTP AUTH", [] { SettingsManager::setAuthRelay(false, false); },
         true},
    };
    for (const auto& mode : modes) {
        changeUnderTraffic(mode.set);
        korvo::test::SmtpClient client("127.0.0.2");
        client.send("EHLO client.example");
        client.send("MAIL FROM:<a@client.example>");
        const std::string answer = client.send("RCPT TO:<b@foreign.example>");
        EXPECT_EQ(answer.rfind(mode.relayDenied ? "554" : "250", 0), 0u)
            << mode.name << ": " << answer;
        EXPECT_EQ(answer.find(denied) != std::string::npos, mode.relayDenied)
            << mode.name << ": " << answer;
        ASSERT_EQ(fatalLines(), "") << "after the " << mode.name << " relay mode";
    }
}

} // namespace
