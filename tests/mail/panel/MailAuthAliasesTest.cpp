// One mailbox is reached through its mailname, mail aliases and every domain
// alias: a change that misses one leaves a login working that should not.
#include "mail/auth/MailAuthAliases.h"
#include "mail/auth/MailAuth.h"
#include "mail/panel/PanelFixture.h"

#include <gtest/gtest.h>

namespace {

using korvo::test::authSql;
using korvo::test::authUsers;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

class MailAuthAliasesTest : public korvo::test::PanelFixture {};

// The rows of the nine addresses of info@example.com, in authUsers order.
std::string nineUsers(const std::string& columns) {
    std::string rows;
    for (const char* domain : {"example.com", "example.net", "example.org"})
        for (const char* name : {"info", "office", "sales"})
            rows += std::string(name) + "@" + domain + "|" + columns + "\n";
    return rows;
}

TEST_F(MailAuthAliasesTest, PasswordsAndRemovalsReachEveryAddressOfTheMailbox) {
    EXPECT_EQ(set_mass_postbox_passwd("info", "example.com", "$1$c", Crypted | UserDisabled), 1);
    EXPECT_EQ(authUsers(), nineUsers("NULL|$1$c|1|0"));

    EXPECT_EQ(set_passwd_for_domains("admin", "example.com", "pw", 0), 1);
    EXPECT_EQ(set_mass_postbox_passwd("info", "other.example", "pw", DomainDisabled), 1);
    EXPECT_EQ(set_passwd_for_domains("solo", "lonely.example", "pw", 0), 0);
    EXPECT_EQ(set_mass_postbox_passwd("admin", "example.com", "", 0), 0);
    EXPECT_EQ(authSql("SELECT count(*) FROM users"), "14\n");
    EXPECT_EQ(authSql("SELECT count(*) FROM users WHERE name='admin'"), "0\n");

    EXPECT_EQ(set_passwd_for_domains("admin", "example.com", "pw", 0), 1);
    EXPECT_EQ(rm_mname_from_domains("admin", "example.com"), 1);
    EXPECT_EQ(rm_mails_from_domains("info", "example.com"), 1);
    EXPECT_EQ(rm_mails_from_domains("ghost", "lonely.example"), 0);
    EXPECT_EQ(authUsers(), "solo@lonely.example|pw|NULL|0|0\n"
                           "info@other.example|pw|NULL|0|1\n"
                           "x@other.example|pw|NULL|0|1\n"
                           "info@other.net|pw|NULL|0|1\n"
                           "x@other.net|pw|NULL|0|1\n");
    EXPECT_EQ(set_mass_postbox_passwd("info", "other.example", "", 0), 1);
    EXPECT_EQ(authUsers(), "solo@lonely.example|pw|NULL|0|0\n");
}

TEST_F(MailAuthAliasesTest, DomainActionsCoverTheDomainAliases) {
    ASSERT_EQ(set_mass_postbox_passwd("info", "example.com", "pw", UserDisabled), 1);
    ASSERT_EQ(set_mass_postbox_passwd("info", "other.example", "pw", 0), 1);
    const std::string statuses = "SELECT name, status FROM domains ORDER BY name";

    EXPECT_EQ(domain_auth_action("example.com", mailAuthDisableDomain, "disable auth records"), 1);
    EXPECT_EQ(authSql(statuses), "example.com|1\nexample.net|1\nexample.org|1\n"
                                 "other.example|0\nother.net|0\n");
    EXPECT_EQ(authSql("SELECT DISTINCT status FROM users WHERE name='info' AND dom_id IN "
                      "(SELECT id FROM domains WHERE name LIKE 'example.%')"),
              "1\n");
    EXPECT_EQ(domain_auth_action("example.com", mailAuthEnableDomain, "enable auth records"), 1);
    EXPECT_EQ(authSql(statuses), "example.com|0\nexample.net|0\nexample.org|0\n"
                                 "other.example|0\nother.net|0\n");

    EXPECT_EQ(domain_auth_action("example.com", mailAuthRemoveDomain, "remove auth record"), 1);
    EXPECT_EQ(authSql(statuses), "other.example|0\nother.net|0\n");
    EXPECT_EQ(authSql("SELECT count(*) FROM users"), "4\n");
    EXPECT_EQ(domain_auth_action("lonely.example", mailAuthDisableDomain, "disable auth records"),
              0);

    CaptureStdout();
    EXPECT_EQ(domain_auth_action(
                  "other.example", [](const char*) { return -1; }, "fail"),
              -1);
    EXPECT_EQ(GetCapturedStdout(), "Unable to fail for domain other.example\n");
}

TEST_F(MailAuthAliasesTest, NewDomainAliasGetsEveryAddressAndLosesThemAgain) {
    ASSERT_EQ(set_mass_postbox_passwd("info", "example.com", "$1$c", Crypted | UserDisabled), 1);
    ASSERT_EQ(set_passwd_for_domains("admin", "example.com", "pw", 0), 1);
    ASSERT_EQ(set_mass_postbox_passwd("info", "other.example", "pw", 0), 1);
    ASSERT_EQ(mailAuthDisableDomain("example.com"), 0);
    korvo::test::panelSql("INSERT INTO domainaliases (name, dom_id) SELECT 'example.info', id "
                          "FROM domains WHERE name='example.com'");

    EXPECT_EQ(add_domain_auth_alias("example.com", "example.info"), 1);
    EXPECT_EQ(authSql("SELECT status FROM domains WHERE name='example.info'"), "1\n");
    EXPECT_EQ(authSql("SELECT u.name, userPassword, cmusaslsecretPLAIN, u.status FROM users u, "
                      "domains d WHERE u.dom_id=d.id AND d.name='example.info' ORDER BY u.name"),
              "admin|pw|NULL|0\ninfo|NULL|$1$c|1\noffice|NULL|$1$c|1\nsales|NULL|$1$c|1\n");
    EXPECT_EQ(add_domain_auth_alias("lonely.example", "lonely.net"), 0);

    EXPECT_EQ(rm_domain_auth_alias("example.info"), 0);
    EXPECT_EQ(authSql("SELECT count(*) FROM domains WHERE name='example.info'"), "0\n");
    EXPECT_EQ(authSql("SELECT count(*) FROM users"), "16\n");
    EXPECT_EQ(rm_domain_auth_alias("unknown.example"), 0);
}

// A quote in a domain name must neither widen the alias queries nor fail them.
TEST_F(MailAuthAliasesTest, QuotedDomainMatchesNothingAndChangesNothing) {
    ASSERT_EQ(set_mass_postbox_passwd("info", "example.com", "pw", 0), 1);
    ASSERT_EQ(set_mass_postbox_passwd("info", "other.example", "pw", 0), 1);
    const std::string users = authUsers();
    const char* const widening = "nowhere' OR 'a'='a";

    EXPECT_EQ(domain_auth_action(widening, mailAuthDisableDomain, "disable auth records"), 0);
    EXPECT_EQ(rm_mails_from_domains("info", widening), 0);
    EXPECT_EQ(rm_domain_auth_alias(widening), 0);
    EXPECT_EQ(add_domain_auth_alias(widening, "copy.example"), 0);
    EXPECT_EQ(authUsers(), users);
    EXPECT_EQ(authSql("SELECT name FROM domains WHERE status<>0 OR name LIKE 'nowhere%' OR "
                      "name='copy.example'"),
              "");
}

TEST_F(MailAuthAliasesTest, UnreachablePanelStopsTheOperation) {
    korvo::test::PanelServer::stop();
    CaptureStdout();
    EXPECT_EQ(set_mass_postbox_passwd("info", "example.com", "pw", 0), -1);
    const std::string output = GetCapturedStdout();
    EXPECT_NE(output.find("Unable to connect to Korvo Database: "), std::string::npos);
    EXPECT_NE(output.find("Unable to get domain aliases for domain example.com\n"),
              std::string::npos);
    EXPECT_EQ(authUsers(), "info@example.com|pw|NULL|0|0\n");
}

} // namespace
