#include "postfix/managers/SettingsManager.h"

#include "front/CommandFixture.h"
#include "process/SigBlocker.h"

#include <atomic>
#include <functional>
#include <thread>

namespace korvo::test {
namespace {

using korvo::mail::postfix::SettingsManager;
using SettingsManagerTest = SandboxTest;

// Relaying is proven through Postfix below; here SMTP AUTH, POP-lock networks, no duplicates.
TEST_F(SettingsManagerTest, AuthRelayTogglesSaslAndPopLockOnceAndRblHostsReplaceOnlyRblChecks) {
    const std::string check = ", check_client_access pcre:/var/spool/postfix/korvo/no_relay.re, ";
    SettingsManager::setOpenRelay();
    SettingsManager::setAuthRelay(true, true);
    SettingsManager::setAuthRelay(true, true);
    EXPECT_EQ(postconf("smtpd_sasl_auth_enable"), "yes");
    EXPECT_EQ(postconf("smtpd_recipient_restrictions"),
              "permit_mynetworks" + check + "permit_sasl_authenticated, reject_unauth_destination");
    EXPECT_EQ(postconf("mynetworks"), "127.0.0.0/8 [::ffff:127.0.0.0]/104 [::1]/128, "
                                      "hash:/var/spool/postfix/korvo/poplock");
    SettingsManager::setOpenRelay();
    SettingsManager::setAuthRelay(boost::logic::indeterminate, false);
    EXPECT_EQ(postconf("smtpd_recipient_restrictions"), "permit" + check + "reject");
    EXPECT_EQ(postconf("mynetworks"), "127.0.0.0/8, [::ffff:127.0.0.0]/104, [::1]/128");
    SettingsManager::setAuthRelay(false, boost::logic::indeterminate);
    EXPECT_EQ(postconf("smtpd_sasl_auth_enable"), "no");

    // RBL items written without commas keep the other words of their piece.
    setPostconf("smtpd_client_restrictions=permit_mynetworks reject_rbl_client old.example,, "
                "reject_unknown_client_hostname, reject_rbl_client older.example "
                "reject_unauth_pipelining, reject_rhsbl_client rhs.example");
    const std::vector<std::string> hosts{"b.example", "", "a.example"};
    SettingsManager::setRBLHosts(hosts.begin(), hosts.end());
    const std::string kept = "permit_mynetworks, reject_unknown_client_hostname, "
                             "reject_unauth_pipelining, reject_rhsbl_client rhs.example";
    EXPECT_EQ(postconf("smtpd_client_restrictions"),
              kept + ", reject_rbl_client b.example, reject_rbl_client a.example");
    SettingsManager::setRBLHosts(hosts.end(), hosts.end());
    EXPECT_EQ(postconf("smtpd_client_restrictions"), kept);
}

// Postfix with one client per smtpd, so each conversation reads main.cf anew.
class RelayModeTest : public RunningPostfixTest {
protected:
    void SetUp() override {
        RunningPostfixTest::SetUp();
        writeFile("/var/spool/postfix/korvo/no_relay.re", "");
        setPostconf("max_use=1");
        startPostfix();
    }
};

// An smtpd starting between two postconf runs must find a usable main.cf.
TEST_F(RelayModeTest, EachModeHoldsForAForeignClientAndSmtpdKeepsAnswering) {
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
        std::atomic<bool> done{false};
        // The tool is single-threaded: its SIGCHLD must reach the thread that
        // waits for its postconf runs, so the traffic thread starts with the
        // signal blocked and never takes it.
        std::thread traffic = [&done] {
            SigBlocker blocker;
            blocker.block(SIGCHLD);
            return std::thread([&done] {
                while (!done)
                    SmtpClient("127.0.0.2").send("QUIT");
            });
        }();
        mode.set();
        done = true;
        traffic.join();
        const std::string answer = smtpTransaction("a@client.example", "b@foreign.example");
        EXPECT_EQ(answer.rfind(mode.relayDenied ? "554" : "250", 0), 0u)
            << mode.name << ": " << answer;
        for (const std::string& line : lines(readFile("/var/spool/postfix/maillog")))
            ASSERT_EQ(line.find("fatal:"), std::string::npos) << mode.name << ": " << line;
    }
}

} // namespace
} // namespace korvo::test
