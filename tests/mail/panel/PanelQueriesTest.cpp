// Panel queries and the mail authentication changes that must reach every address of a mailbox.
#include "mail/panel/PanelQueries.h"
#include "mail/auth/MailAuth.h"
#include "mail/auth/MailAuthAliases.h"
#include "mysql/DbConnect.h"
#include "sandbox/CapturedOutput.h"
#include "sandbox/MailAuthDatabase.h"
#include "sandbox/PanelDatabase.h"
#include "sandbox/TestFiles.h"

#include <gtest/gtest.h>

namespace {

using korvo::StringListOwner;
using namespace korvo::test;
using Names = std::vector<std::string>;

class PanelQueriesTest : public PanelDatabaseTest {
protected:
    void SetUp() override {
        PanelDatabaseTest::SetUp();
        createMailAuthDatabase();
        addDomain("example.com", {"example.net", "example.org"});
        addMailname("example.com", "info", {"sales", "office"});
        addMailname("example.com", "admin");
        addDomain("other.example", {"other.net"});
        addMailname("other.example", "info", {"x"});
    }
};

// A mailname without aliases must not vanish from the join, nor another
// domain's leak in; within one shared scope every lookup rides one
// connection, and an open that failed is tried again at the next lookup.
TEST_F(PanelQueriesTest, MailnamesWithAliasesInOneQueryOverOneSharedConnection) {
    using korvo::mail::MailnameAliasList;
    ASSERT_EQ(set_mass_postbox_passwd("info", "example.com", "pw", 0), 1);
    startQueryLog();
    MailnameAliasList mailnames;
    StringListOwner aliases;
    {
        const korvo::mysql::SharedConnection shared;
        writeFile(panelPasswordFile, "wrong\n");
        CapturedStdout capturedStdout;
        EXPECT_EQ(get_mailnames_with_aliases(nullptr, mailnames, "example.com"), -1);
        capturedStdout.text();
        writeFile(panelPasswordFile, std::string(panelAdminPassword) + "\n");
        EXPECT_EQ(get_mailnames_with_aliases(nullptr, mailnames, "example.com"), 0);
        EXPECT_EQ(get_domaliases_by_domain(nullptr, aliases.out(), "example.com"), 0);
        EXPECT_EQ(add_domain_auth_alias("example.com", "copy.example", mailnames), 1);
    }
    ASSERT_EQ(mailnames.size(), 2u);
    EXPECT_EQ(mailnames[0].mailname, "info");
    EXPECT_EQ(mailnames[0].aliases, (Names{"sales", "office"}));
    EXPECT_EQ(mailnames[1].mailname, "admin");
    EXPECT_TRUE(mailnames[1].aliases.empty());
    EXPECT_EQ(Names(aliases.begin(), aliases.end()), (Names{"example.net", "example.org"}));
    // admin has no password to copy.
    EXPECT_EQ(authSql("SELECT u.name || ':' || u.userPassword FROM users u, domains d "
                      "WHERE u.dom_id=d.id AND d.name='copy.example' ORDER BY u.name"),
              "info:pw\noffice:pw\nsales:pw\n");

    // A copy that fails keeps the ones made before it.
    authSql("UPDATE users SET userPassword=NULL WHERE name='office'");
    EXPECT_EQ(add_domain_auth_alias("example.com", "second.example", mailnames), -1);
    EXPECT_EQ(authSql("SELECT u.name FROM users u, domains d WHERE u.dom_id=d.id AND "
                      "d.name='second.example'"),
              "sales\n");
    EXPECT_EQ(panelSql("SELECT COUNT(DISTINCT thread_id) FROM mysql.general_log WHERE "
                       "command_type='Query' AND user_host LIKE 'admin[%'"),
              "1\n");
    int mailQueries = 0;
    for (const std::string& query : loggedQueries())
        mailQueries += query.find("FROM mail m") != std::string::npos;
    EXPECT_EQ(mailQueries, 1);
}

// A quote in a name must neither widen a query nor fail it.
TEST_F(PanelQueriesTest, QuotedNamesMatchNothingAndChangeNothing) {
    const char* const widening = "x' OR 'a'='a";
    StringListOwner aliases, mailnames, mailAliases;
    EXPECT_EQ(get_domaliases_by_domain(nullptr, aliases.out(), widening) +
                  get_mailnames_by_domain(nullptr, mailnames.out(), widening) +
                  get_aliases_by_mailname(nullptr, mailAliases.out(), widening, widening),
              0);
    EXPECT_TRUE(aliases.empty() && mailnames.empty() && mailAliases.empty());

    ASSERT_EQ(set_mass_postbox_passwd("info", "example.com", "pw", 0), 1);
    ASSERT_EQ(set_mass_postbox_passwd("info", "other.example", "pw", 0), 1);
    const std::string users = authUsers();
    EXPECT_EQ(domain_auth_action(widening, mailAuthDisableDomain, "disable auth records"), 0);
    EXPECT_EQ(rm_mails_from_domains("info", widening), 0);
    EXPECT_EQ(rm_domain_auth_alias(widening), 0);
    EXPECT_EQ(add_domain_auth_alias(widening, "copy.example"), 0);
    EXPECT_EQ(authUsers(), users);
    EXPECT_EQ(authSql("SELECT name FROM domains WHERE status<>0 OR name LIKE 'x%' OR "
                      "name='copy.example'"),
              "");
}

// A missed address leaves a login working; the same mailname elsewhere must stay.
TEST_F(PanelQueriesTest, MailboxAndDomainChangesReachEveryAddressAndNoOther) {
    ASSERT_EQ(set_mass_postbox_passwd("info", "example.com", "$1$c", Crypted | UserDisabled), 1);
    ASSERT_EQ(set_mass_postbox_passwd("info", "other.example", "pw", 0), 1);
    const std::string statuses = "SELECT name, status FROM domains ORDER BY name";
    EXPECT_EQ(domain_auth_action("example.com", mailAuthDisableDomain, "disable auth records"), 1);
    EXPECT_EQ(authSql(statuses), "example.com|1\nexample.net|1\nexample.org|1\n"
                                 "other.example|0\nother.net|0\n");
    EXPECT_EQ(rm_mails_from_domains("info", "example.com"), 1);
    EXPECT_EQ(authSql("SELECT u.name || '@' || d.name FROM users u, domains d WHERE "
                      "u.dom_id=d.id ORDER BY d.name, u.name"),
              "info@other.example\nx@other.example\ninfo@other.net\nx@other.net\n");
}

} // namespace
