// The class layer: what the query builder sends, rows, and failures.
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
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

class ConnectionTest : public korvo::test::PanelDatabaseTest {};

std::string messageOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const mError& e) {
        return e.what();
    }
    return "no mError";
}

TEST_F(ConnectionTest, InsertionModesApplyToTheNextStringOnly) {
    Connection db(true);
    EXPECT_EQ(db.escape("it's a \\ \"q\""), "it\\'s a \\\\ \\\"q\\\"");
    EXPECT_EQ(db.escape("ab'cd", 3), "ab\\'");
    EXPECT_EQ(Connection::escape_name("plain"), "plain");
    EXPECT_EQ(Connection::escape_name("a`b``c"), "a``b````c");

    db << "INSERT INTO misc (param, val) VALUES ('" << Insert::Value << "o'brien"
       << "', '" << 42 << "'), ('" << Insert::Value << std::string("x'y") << "', '" << 1.5 << "')"
       << Query::exec;
    EXPECT_EQ(panelSql("SELECT param, val FROM misc ORDER BY param"),
              "o'brien\t42\nx'y\t1.500000\n");

    panelSql("CREATE TABLE `we``ird` (v INT); INSERT INTO `we``ird` VALUES (7)");
    Result result = db << "SELECT v FROM `" << Insert::Name << "we`ird"
                       << "` WHERE v=" << 7 << Query::fetch;
    Result::row_t row;
    ASSERT_TRUE(result.fetch(row));
    EXPECT_EQ(row["v"].value(), "7");
    EXPECT_FALSE(result.fetch(row));
}

TEST_F(ConnectionTest, RowsHoldNamedFieldsNullsAndNumbers) {
    setMisc("limit", "-12");
    Connection db(false);
    Result result = db << "SELECT param, val, NULL AS nothing, 65535 AS big FROM misc"
                       << Query::fetch;
    EXPECT_EQ(result.columns(), (std::vector<std::string>{"param", "val", "nothing", "big"}));
    Result::row_t row;
    ASSERT_TRUE(result.fetch(row));
    EXPECT_EQ(row["param"].value(), "limit");
    EXPECT_FALSE(row["param"].isNull());
    EXPECT_TRUE(row["nothing"].isNull() && row["nothing"].value().empty());
    EXPECT_EQ(boost::lexical_cast<int>(row["val"]), -12);
    EXPECT_EQ(boost::lexical_cast<unsigned int>(row["big"]), 65535u);
    EXPECT_THROW(boost::lexical_cast<short>(row["big"]), boost::bad_lexical_cast);
    EXPECT_EQ(messageOf([&] { (void)row["missing"]; }), "No field named missing in result set");
    EXPECT_FALSE(result.fetch(row));

    Result twice = db << "SELECT 1 AS a, 2 AS a" << Query::fetch;
    EXPECT_EQ(messageOf([&] { twice.fetch(row); }), "duplicated field a in query");
}

TEST_F(ConnectionTest, FailuresRaiseMErrorWithTheServersText) {
    setMisc("keep", "me");
    Connection db(true);
    EXPECT_EQ(messageOf([&] { db << "SELECT * FROM nope" << Query::exec; }),
              "Mysql error 1146: Table 'orq.nope' doesn't exist\n executing query");
    EXPECT_EQ(messageOf([&] { db << "SET @a=1" << Query::fetch; }),
              "Unknown error\n fetching result");
    // The builder is empty again after each failure.
    db << "SET @a=2" << Query::exec;

    const char* const missing = nullptr;
    EXPECT_NE(
        messageOf([&] { db << "DELETE FROM misc WHERE param='" << missing << "'" << Query::exec; }),
        "no mError");
    EXPECT_EQ(panelSql("SELECT val FROM misc"), "me\n");

    korvo::test::writeFile(korvo::test::panelPasswordFile, "wrong\n");
    EXPECT_EQ(messageOf([] { Connection refused(true); }), "connection failed");
}

TEST_F(ConnectionTest, BoolMiscParamIsTrueOnlyForExactlyTrue) {
    setMisc("exact", "true");
    setMisc("capital", "True");
    Connection db(true);
    EXPECT_TRUE(getBoolMiscParamSafe("exact", db));
    EXPECT_FALSE(getBoolMiscParamSafe("capital", db));
    EXPECT_FALSE(getBoolMiscParamSafe("absent", db));
    EXPECT_FALSE(getBoolMiscParamSafe("exact' OR param<>'", db));

    korvo::test::PanelServer::stop();
    Connection later(false);
    CaptureStdout();
    EXPECT_FALSE(getBoolMiscParamSafe("exact", later));
    EXPECT_NE(GetCapturedStdout().find("Warning: MySQL Error on Mail Authentication Type query: "
                                       "connection failed, ignored\n"),
              std::string::npos);
}

} // namespace
