// The class layer against the real server: what the query builder sends,
// rows, and failures.
#include "mysql/Connection.h"
#include "mysql/MiscParam.h"
#include "sandbox/PanelDatabase.h"
#include "sandbox/TestFiles.h"

#include <boost/lexical_cast.hpp>
#include <functional>
#include <gtest/gtest.h>

namespace {

using korvo::mail::restore::getBoolMiscParamSafe;
using korvo::mysql::Connection;
using korvo::mysql::Insert;
using korvo::mysql::mError;
using korvo::mysql::Query;
using korvo::mysql::Result;
using korvo::test::panelSql;

class ConnectionTest : public korvo::test::PanelDatabaseTest {};

std::string messageOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const mError& e) {
        return e.what();
    }
    return "no mError";
}

// An insertion mode escapes the next string only; numbers go in verbatim.
TEST_F(ConnectionTest, EscapedInsertionsAndNamedRows) {
    Connection db(true);
    EXPECT_EQ(db.escape("it's a \\ \"q\""), "it\\'s a \\\\ \\\"q\\\"");
    EXPECT_EQ(db.escape("ab'cd", 3), "ab\\'");
    db << "INSERT INTO misc (param, val) VALUES ('" << Insert::Value << "o'brien"
       << "', '" << -12 << "'), ('" << Insert::Value << std::string("x'y") << "', '" << 1.5 << "')"
       << Query::exec;
    EXPECT_EQ(panelSql("SELECT param, val FROM misc ORDER BY param"),
              "o'brien\t-12\nx'y\t1.500000\n");

    panelSql("CREATE TABLE `we``ird` (v INT); INSERT INTO `we``ird` VALUES (7)");
    Result result = db << "SELECT v, NULL AS nothing FROM `" << Insert::Name << "we`ird"
                       << "` WHERE v=" << 7 << Query::fetch;
    EXPECT_EQ(result.columns(), (std::vector<std::string>{"v", "nothing"}));
    Result::row_t row;
    ASSERT_TRUE(result.fetch(row));
    EXPECT_EQ(boost::lexical_cast<int>(row["v"]), 7);
    EXPECT_TRUE(row["nothing"].isNull() && row["nothing"].value().empty());
    EXPECT_EQ(messageOf([&] { (void)row["missing"]; }), "No field named missing in result set");
    EXPECT_FALSE(result.fetch(row));

    Result twice = db << "SELECT 1 AS a, 2 AS a" << Query::fetch;
    EXPECT_NE(messageOf([&] { twice.fetch(row); }), "no mError");
}

TEST_F(ConnectionTest, FailuresRaiseMErrorAndChangeNothing) {
    setMisc("exact", "true");
    setMisc("capital", "True");
    Connection db(true);
    EXPECT_EQ(messageOf([&] { db << "SELECT * FROM nope" << Query::exec; }),
              "Mysql error 1146: Table 'orq.nope' doesn't exist\n executing query");
    EXPECT_NE(messageOf([&] { db << "SET @a=1" << Query::fetch; }), "no mError");
    // The builder is empty again after each failure.
    db << "SET @a=2" << Query::exec;
    const char* const missing = nullptr;
    EXPECT_NE(
        messageOf([&] { db << "DELETE FROM misc WHERE param='" << missing << "'" << Query::exec; }),
        "no mError");
    EXPECT_EQ(panelSql("SELECT count(*) FROM misc"), "2\n");

    EXPECT_TRUE(getBoolMiscParamSafe("exact", db));
    for (const char* no : {"capital", "absent", "exact' OR param<>'"})
        EXPECT_FALSE(getBoolMiscParamSafe(no, db)) << no;

    korvo::test::writeFile(korvo::test::panelPasswordFile, "wrong\n");
    EXPECT_EQ(messageOf([] { Connection refused(true); }), "connection failed");
    // Without a server the setting reads as false: a warning, no exception.
    korvo::test::PanelServer::stop();
    Connection later(false);
    EXPECT_FALSE(getBoolMiscParamSafe("exact", later));
}

} // namespace
