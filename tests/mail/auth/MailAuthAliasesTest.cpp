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
        addDomain("example.com", {"example.net", "example.info"});
        addMailname("example.com", "info", {"sales"});
        addDomain("other.example", {"other.net"});
    }

    // Each link as alias>domain, by name.
    static std::string links() {
        return authSql("SELECT a.name || '>' || d.name FROM domain_aliases l JOIN domains a ON "
                       "a.id = l.alias_id JOIN domains d ON d.id = l.dom_id ORDER BY a.name");
    }
};

// Logins at an alias, linked before or after its mailbox, are proven
// through Courier in tests/flow; here removals take their links along.
TEST_F(MailAuthAliasesTest, RemovalsTakeTheirLinksAndNoOther) {
    ASSERT_EQ(set_mass_postbox_passwd("info", "example.com", "pw", 0), 1);
    ASSERT_EQ(set_passwd_for_domains("info", "other.example", "pw", 0), 1);
    EXPECT_EQ(links(), "example.info>example.com\nexample.net>example.com\n"
                       "other.net>other.example\n");
    panelSql("DELETE FROM domainaliases WHERE name='example.info'");
    ASSERT_EQ(rm_domain_auth_alias("example.info"), 0);
    EXPECT_EQ(links(), "example.net>example.com\nother.net>other.example\n");

    ASSERT_EQ(mailAuthRemoveDomain("example.com"), 0);
    EXPECT_EQ(links(), "other.net>other.example\n");
    EXPECT_EQ(authSql("SELECT count(*) FROM domain_aliases"), "1\n");
}

} // namespace
