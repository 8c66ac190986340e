#include "postfix/managers/SettingsManager.h"

#include "sandbox/CommandRunner.h"
#include "sandbox/Sandbox.h"

#include <boost/algorithm/string/trim.hpp>

using korvo::mail::postfix::SettingsManager;
using korvo::test::runCommand;

namespace {

std::string postconf(const std::string& name) {
    return boost::algorithm::trim_copy(runCommand({"/usr/sbin/postconf", "-h", name}).out);
}

using SettingsManagerTest = korvo::test::SandboxTest;

TEST_F(SettingsManagerTest, RelayModesLeaveTheExpectedRecipientRestrictions) {
    const std::string check = ", check_client_access pcre:/var/spool/postfix/korvo/no_relay.re, ";
    const std::string closed = "permit_mynetworks" + check + "reject_unauth_destination";
    const std::string auth =
        "permit_mynetworks" + check + "permit_sasl_authenticated, reject_unauth_destination";
    SettingsManager::setOpenRelay();
    EXPECT_EQ(postconf("smtpd_recipient_restrictions"), "permit" + check + "reject");
    SettingsManager::setClosedRelay();
    EXPECT_EQ(postconf("smtpd_recipient_restrictions"), closed);

    SettingsManager::setAuthRelay(true, true);
    SettingsManager::setAuthRelay(true, true);
    EXPECT_EQ(postconf("smtpd_sasl_auth_enable"), "yes");
    EXPECT_EQ(postconf("smtpd_recipient_restrictions"), auth);
    EXPECT_EQ(postconf("mynetworks"), "127.0.0.0/8 [::ffff:127.0.0.0]/104 [::1]/128, "
                                      "hash:/var/spool/postfix/korvo/poplock");

    // Undecided SMTP authentication leaves both its parameters alone.
    SettingsManager::setAuthRelay(boost::logic::indeterminate, false);
    EXPECT_EQ(postconf("smtpd_sasl_auth_enable"), "yes");
    EXPECT_EQ(postconf("smtpd_recipient_restrictions"), auth);
    EXPECT_EQ(postconf("mynetworks"), "127.0.0.0/8, [::ffff:127.0.0.0]/104, [::1]/128");

    SettingsManager::setAuthRelay(false, boost::logic::indeterminate);
    EXPECT_EQ(postconf("smtpd_sasl_auth_enable"), "no");
    EXPECT_EQ(postconf("smtpd_recipient_restrictions"), closed);
}

TEST_F(SettingsManagerTest, RblHostsReplaceOnlyTheRblChecks) {
    ASSERT_EQ(korvo::test::shell("postconf -e 'smtpd_client_restrictions=permit_mynetworks, "
                                 "reject_rbl_client old.example,, reject_unknown_client_hostname'"),
              0);
    const std::vector<std::string> hosts{"b.example", "", "a.example"};
    SettingsManager::setRBLHosts(hosts.begin(), hosts.end());
    const std::string kept = "permit_mynetworks, reject_unknown_client_hostname";
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

} // namespace
