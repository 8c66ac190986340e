// The read queries: what they send to the panel database, what lists come
// back, and that a name holding a quote cannot change a query.
#include "mail/PanelQueries.h"
#include "mail/panel/PanelFixture.h"
#include "mysql/DbConnect.h"

#include <cstdlib>
#include <gtest/gtest.h>

namespace {

using korvo::mail::StringListOwner;
using korvo::mysql::MysqlHandle;
using korvo::test::panelSql;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

class PanelQueriesTest : public korvo::test::PanelFixture {};

std::vector<std::string> sorted(const StringListOwner& list) {
    std::vector<std::string> names(list.begin(), list.end());
    std::sort(names.begin(), names.end());
    return names;
}

using Names = std::vector<std::string>;

TEST_F(PanelQueriesTest, ListsHoldTheFirstColumnOfEveryRow) {
    StringListOwner aliases, mailAliases, mailnames, none;
    EXPECT_EQ(get_domaliases_by_domain(nullptr, aliases.out(), "example.com") +
                  get_aliases_by_mailname(nullptr, mailAliases.out(), "info", "example.com") +
                  get_mailnames_by_domain(nullptr, mailnames.out(), "example.com"),
              0);
    EXPECT_EQ(sorted(aliases), (Names{"example.net", "example.org"}));
    EXPECT_EQ(sorted(mailAliases), (Names{"office", "sales"}));
    EXPECT_EQ(sorted(mailnames), (Names{"admin", "info"}));
    EXPECT_EQ(get_domaliases_by_domain(nullptr, none.out(), "missing.example"), 0);
    EXPECT_EQ(none.get(), nullptr);

    char* domain = nullptr;
    EXPECT_EQ(get_domain_by_domainalias(nullptr, &domain, "example.org"), 0);
    ASSERT_NE(domain, nullptr);
    EXPECT_STREQ(domain, "example.com");
    std::free(domain);
    char* untouched = const_cast<char*>("unset");
    EXPECT_EQ(get_domain_by_domainalias(nullptr, &untouched, "unknown.example"), 0);
    EXPECT_STREQ(untouched, "unset");

    std::vector<std::string> names{"first"};
    korvo::mail::append_domainaliases_by_domain(names, "other.example");
    EXPECT_EQ(names, (Names{"first", "other.net"}));
}

TEST_F(PanelQueriesTest, LimitsSettingsAndEscapedNames) {
    const std::string id = panelSql("SELECT id FROM domains WHERE name='example.com'");
    const std::string domainId = id.substr(0, id.size() - 1);
    setLimit("example.com", "mbox_quota", "1048576");
    setLimit("example.com", "disk_space", "-1");
    setMisc("cf_instance_path", "/opt/cf");
    panelSql("INSERT INTO misc (param, val) VALUES ('nothing', NULL)");

    const MysqlHandle db(db_connect());
    ASSERT_TRUE(db);
    EXPECT_STREQ(get_dom_Limit(domainId.c_str(), "mbox_quota", db.get()), "1048576");
    EXPECT_STREQ(get_dom_Limit(domainId.c_str(), "max_box", nullptr), "");
    EXPECT_STREQ(get_param("cf_instance_path", nullptr), "/opt/cf");
    const char* const first = get_param("cf_instance_path", db.get());
    EXPECT_EQ(get_param("nothing", db.get()), first);
    EXPECT_STREQ(first, "");
    EXPECT_STREQ(get_param("absent", db.get()), "");
    for (const auto& [name, escaped] :
         {std::pair<const char*, const char*>{"bücher.example", "xn--bcher-kva.example"},
          {"o'neil", "o\\'neil"}}) {
        char* const entity = mysql_escape_mail_entity(db.get(), name);
        EXPECT_STREQ(entity, escaped);
        std::free(entity);
    }

    CaptureStdout();
    EXPECT_EQ(mysql_escape_mail_entity(db.get(), std::string(70, 'a').c_str()), nullptr);
    EXPECT_EQ(GetCapturedStdout().rfind("idn_toascii(" + std::string(70, 'a') + ") failed", 0), 0u);

    panelSql("DROP TABLE Limits; DROP TABLE misc");
    CaptureStdout();
    errno = 0;
    EXPECT_EQ(get_dom_Limit(domainId.c_str(), "mbox_quota", db.get()), nullptr);
    errno = 0;
    EXPECT_EQ(get_param("cf_instance_path", db.get()), nullptr);
    EXPECT_EQ(GetCapturedStdout(),
              "Unable to query domain limit mbox_quota: Table 'orq.Limits' doesn't exist\n"
              "Unable to query parameter by query select val from misc where "
              "param='cf_instance_path': Table 'orq.misc' doesn't exist\n");
}

// The texts must reach the server exactly as the panel's other tools send
// them; only quotes and backslashes in names get escaped.
TEST_F(PanelQueriesTest, QueryTextsAreExactAndQuotesCannotWidenThem) {
    const MysqlHandle db(db_connect());
    ASSERT_TRUE(db);
    startQueryLog();
    StringListOwner a, b, c;
    char* domain = nullptr;
    get_domaliases_by_domain(db.get(), a.out(), "example.com");
    get_aliases_by_mailname(db.get(), b.out(), "info", "example.com");
    get_mailnames_by_domain(db.get(), c.out(), "example.com");
    get_domain_by_domainalias(db.get(), &domain, "example.net");
    std::free(domain);
    get_dom_Limit("1", "mbox_quota", db.get());
    get_param("cf_instance_path", db.get());
    EXPECT_EQ(loggedQueries(),
              (Names{"SELECT da.name FROM domainaliases da JOIN domains d WHERE da.dom_id=d.id "
                     "and d.name='example.com'",
                     "SELECT ma.alias FROM mail_aliases ma JOIN mail m, domains d WHERE "
                     "ma.mn_id=m.id AND m.mail_name='info' AND m.dom_id=d.id AND "
                     "d.name='example.com'",
                     "SELECT m.mail_name FROM mail m JOIN domains d WHERE m.dom_id=d.id AND "
                     "d.name='example.com'",
                     "SELECT d.name FROM domains d JOIN domainaliases da WHERE d.id=da.dom_id AND "
                     "da.name='example.net'",
                     "select l.value from domains d, Limits l \t\t\t\t where d.id='1' and "
                     "d.limits_id=l.id  and l.limit_name='mbox_quota'",
                     "select val from misc where param='cf_instance_path'"}));

    const char* const widening = "x' OR 'a'='a";
    StringListOwner aliases, mailnames, mailAliases;
    EXPECT_EQ(get_domaliases_by_domain(nullptr, aliases.out(), widening), 0);
    EXPECT_EQ(get_mailnames_by_domain(nullptr, mailnames.out(), widening), 0);
    EXPECT_EQ(get_aliases_by_mailname(nullptr, mailAliases.out(), widening, widening), 0);
    EXPECT_TRUE(aliases.empty() && mailnames.empty() && mailAliases.empty());
    startQueryLog();
    EXPECT_EQ(get_param("x\\' OR param<>'", db.get()), std::string());
    EXPECT_EQ(loggedQueries(), Names{"select val from misc where param='x\\\\\\' OR param<>\\''"});
}

TEST_F(PanelQueriesTest, NoServerMeansFailureNotWaiting) {
    korvo::test::PanelServer::stop();
    CaptureStdout();
    StringListOwner aliases;
    errno = 0;
    EXPECT_EQ(get_domaliases_by_domain(nullptr, aliases.out(), "example.com"), -1);
    EXPECT_EQ(aliases.get(), nullptr);
    errno = 0;
    EXPECT_EQ(get_param("cf_instance_path", nullptr), nullptr);
    EXPECT_EQ(GetCapturedStdout(),
              "Unable to connect to Korvo Database: Can't connect to local server through socket "
              "'/run/mysqld/mysqld.sock' (2)\n"
              "Unable to connect to mysql database\n"
              "Unable to get domain aliases from database for: example.com\n"
              "Unable to connect to Korvo Database: Can't connect to local server through socket "
              "'/run/mysqld/mysqld.sock' (2)\n"
              "Unable to connect to the mysql database\n");
}

} // namespace
