// The panel database layer against the real server.
#include "mysql/Connection.h"
#include "mysql/DbConnect.h"
#include "mysql/MiscParam.h"
#include "sandbox/PanelDatabase.h"
#include "sandbox/TestFiles.h"

#include <boost/lexical_cast.hpp>
#include <chrono>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

using korvo::mail::restore::getBoolMiscParamSafe;
using namespace korvo::mysql;
using namespace korvo::test;
using Queries = std::vector<std::string>;

const Queries setUpQueries = {"set foreign_key_checks=0", "SHOW VARIABLES LIKE 'version'",
                              "SELECT val FROM misc WHERE param='mysql41_compatible'"};

class ConnectionTest : public PanelDatabaseTest {
protected:
    // Connects once with a fresh flag; returns the queries it sent.
    Queries connectLogged() {
        _mysql41_compatible = -1;
        startQueryLog();
        const MysqlHandle handle(db_connect());
        EXPECT_TRUE(handle);
        return loggedQueries();
    }

    std::string connectError() {
        char errbuf[4097];
        const MysqlHandle handle(korvo_db_connect(errbuf, sizeof errbuf));
        EXPECT_FALSE(handle);
        return errbuf;
    }
};

// An insertion mode escapes the next string only; a failure leaves the builder empty.
TEST_F(ConnectionTest, EscapedInsertionsRowsAndFailures) {
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
    Result::row_t row;
    ASSERT_TRUE(result.fetch(row));
    EXPECT_EQ(boost::lexical_cast<int>(row["v"]), 7);
    EXPECT_TRUE(row["nothing"].isNull() && row["nothing"].value().empty());
    EXPECT_THROW((void)row["missing"], mError);
    EXPECT_FALSE(result.fetch(row));

    Result twice = db << "SELECT 1 AS a, 2 AS a" << Query::fetch;
    EXPECT_NE(failure<mError>([&] { twice.fetch(row); }), "");

    setMisc("exact", "true");
    setMisc("capital", "True");
    EXPECT_EQ(failure<mError>([&] { db << "SELECT * FROM nope" << Query::exec; }),
              "Mysql error 1146: Table 'orq.nope' doesn't exist\n executing query");
    db << "SET @a=2" << Query::exec;
    const char* const missing = nullptr;
    EXPECT_NE(failure<mError>(
                  [&] { db << "DELETE FROM misc WHERE param='" << missing << "'" << Query::exec; }),
              "");
    EXPECT_EQ(panelSql("SELECT count(*) FROM misc"), "4\n");

    EXPECT_TRUE(getBoolMiscParamSafe("exact", db));
    for (const char* no : {"capital", "absent", "exact' OR param<>'"})
        EXPECT_FALSE(getBoolMiscParamSafe(no, db)) << no;
}

Queries plus(Queries queries, const std::string& last) {
    queries.push_back(last);
    return queries;
}

TEST_F(ConnectionTest, PanelSettingAndServerVersionChooseTheCharacterSet) {
    EXPECT_EQ(connectLogged(), plus(setUpQueries, "SET NAMES binary"));
    for (const auto& [setting, names] : {std::pair<const char*, const char*>{"false", "binary"},
                                         {"true", "utf8"},
                                         {"1", "utf8"}}) {
        setMisc("mysql41_compatible", setting);
        EXPECT_EQ(connectLogged(), plus(setUpQueries, std::string("SET NAMES ") + names))
            << setting;
        EXPECT_EQ(_mysql41_compatible, names[0] == 'u') << setting;
    }
    // Servers before 4.1 know no SET NAMES.
    PanelServer::start({"--version=4.0.30-log"});
    EXPECT_EQ(connectLogged(), Queries(setUpQueries.begin(), setUpQueries.end() - 1));
    EXPECT_EQ(_mysql41_compatible, 0);
    PanelServer::start({"--version=4.1.22-log"});
    EXPECT_EQ(connectLogged(), plus(setUpQueries, "SET NAMES utf8"));
}

TEST_F(ConnectionTest, PasswordFileAndFailedSetUpStep) {
    writeFile(panelPasswordFile, std::string(panelAdminPassword) + "\nsecond\n");
    EXPECT_TRUE(MysqlHandle(db_connect()));

    panelSql("DROP TABLE misc");
    char errbuf[4097];
    EXPECT_TRUE(MysqlHandle(korvo_db_connect_ex(errbuf, sizeof errbuf)));
    EXPECT_STREQ(errbuf,
                 "DB error (mysql41 compatible query) 1146: Table 'orq.misc' doesn't exist");
    EXPECT_EQ(connectError(), errbuf);

    writeFile(panelPasswordFile, "");
    EXPECT_EQ(connectError(), "Unable to read admin password file: No data available");
    writeFile(panelPasswordFile, "wrong\n");
    EXPECT_NE(connectError().find("Access denied for user 'admin'@'localhost'"), std::string::npos);
    EXPECT_EQ(failure<mError>([] { Connection refused(true); }), "connection failed");
    ASSERT_EQ(unlink(panelPasswordFile), 0);
    EXPECT_FALSE(MysqlHandle(db_connect()));
}

// Neither a missing socket, nor a deaf one, nor a silent server may keep the tool waiting.
TEST_F(ConnectionTest, AbsentOrSilentServerNeverHangs) {
    PanelServer::stop();
    const std::string refused = "Unable to connect to Korvo Database: Can't connect to local "
                                "server through socket '/run/mysqld/mysqld.sock' ";
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(connectError(), refused + "(2)");
    _mysql41_compatible = -1;
    EXPECT_EQ(db_is_mysql41_compatible(), -1);
    Connection later(false);
    EXPECT_FALSE(getBoolMiscParamSafe("mysql41_compatible", later));

    const int planted = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, "/run/mysqld/mysqld.sock");
    ASSERT_EQ(bind(planted, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(connectError(), refused + "(111)");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));

    ASSERT_EQ(listen(planted, 5), 0);
    start = std::chrono::steady_clock::now();
    EXPECT_NE(connectError().find("Lost connection to server"), std::string::npos);
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GT(waited, std::chrono::seconds(9));
    EXPECT_LT(waited, std::chrono::seconds(15));
    close(planted);
    unlink("/run/mysqld/mysqld.sock");
}

} // namespace
