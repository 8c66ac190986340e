// A login at a domain alias finds its mail home only through the alias's
// link to its domain: a missing link locks the alias out, a stale one sends
// it to a mailbox it no longer belongs to.
#include "mail/auth/MailAuthAliases.h"
#include "mail/auth/MailAuth.h"
#include "sandbox/MailAuthDatabase.h"
#include "sandbox/PanelDatabase.h"

#include <gtest/gtest.h>

namespace {

using namespace korvo::test;

class MailAuthAliasesTest : public PanelDatabaseTest {
protected:
    void SetUp() override {
        PanelDatabaseTest::SetUp();
        createMailAuthDatabase();
        addDomain("example.com", {"example.net"});
        addMailname("example.com", "info", {"sales"});
        addDomain("other.example", {"other.net"});
    }

    // Each link as alias>domain, by name.
    static std::string links() {
        return authSql("SELECT a.name || '>' || d.name FROM domain_aliases l JOIN domains a ON "
                       "a.id = l.alias_id JOIN domains d ON d.id = l.dom_id ORDER BY a.name");
    }
};

TEST_F(MailAuthAliasesTest, LinksFollowAddAndRemoval) {
    // No mailbox yet: the alias has no row to link, and nothing is made up.
    EXPECT_EQ(add_domain_auth_alias("example.com", "example.net"), 1);
    EXPECT_EQ(links(), "");
    // The first password registers both rows, and links them.
    ASSERT_EQ(set_mass_postbox_passwd("info", "example.com", "pw", 0), 1);
    ASSERT_EQ(set_passwd_for_domains("info", "other.example", "pw", 0), 1);
    EXPECT_EQ(links(), "example.net>example.com\nother.net>other.example\n");

    panelSql("INSERT INTO domainaliases (name, dom_id) SELECT 'example.info', id FROM domains "
             "WHERE name='example.com'");
    EXPECT_EQ(add_domain_auth_alias("example.com", "example.info"), 1);
    EXPECT_EQ(links(), "example.info>example.com\nexample.net>example.com\n"
                       "other.net>other.example\n");
    panelSql("DELETE FROM domainaliases WHERE name='example.info'");
    ASSERT_EQ(rm_domain_auth_alias("example.info"), 0);
    EXPECT_EQ(links(), "example.net>example.com\nother.net>other.example\n");

    // Removing a domain takes the links to it along, and no other.
    ASSERT_EQ(mailAuthRemoveDomain("example.com"), 0);
    EXPECT_EQ(links(), "other.net>other.example\n");
    EXPECT_EQ(authSql("SELECT count(*) FROM domain_aliases"), "1\n");
}

} // namespace
