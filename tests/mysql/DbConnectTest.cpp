// The function layer's connection: password file, session set-up for the
// panel's character set, and failing fast when the server is away.
#include "mysql/DbConnect.h"
#include "sandbox/PanelDatabase.h"
#include "sandbox/TestFiles.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

using korvo::mysql::MysqlHandle;
using korvo::test::panelAdminPassword;
using korvo::test::panelPasswordFile;
using korvo::test::PanelServer;
using korvo::test::panelSql;
using korvo::test::writeFile;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

const std::vector<std::string> setUpQueries = {
    "set foreign_key_checks=0", "SHOW VARIABLES LIKE 'version'",
    "SELECT val FROM misc WHERE param='mysql41_compatible'"};

class DbConnectTest : public korvo::test::PanelDatabaseTest {
protected:
    // Connects once with a fresh flag; returns the queries it sent.
    std::vector<std::string> connectLogged() {
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

std::vector<std::string> plus(std::vector<std::string> queries, const std::string& last) {
    queries.push_back(last);
    return queries;
}

TEST_F(DbConnectTest, PanelSettingChoosesTheSessionCharacterSet) {
    EXPECT_EQ(connectLogged(), plus(setUpQueries, "SET NAMES binary"));
    EXPECT_EQ(_mysql41_compatible, 0);
    for (const char* off : {"false", ""}) {
        setMisc("mysql41_compatible", off);
        EXPECT_EQ(connectLogged(), plus(setUpQueries, "SET NAMES binary")) << off;
        EXPECT_EQ(korvo_db_mysql41_compatible_raw(), 0);
    }
    for (const char* on : {"true", "1"}) {
        setMisc("mysql41_compatible", on);
        EXPECT_EQ(connectLogged(), plus(setUpQueries, "SET NAMES utf8")) << on;
        EXPECT_EQ(korvo_db_mysql41_compatible_raw(), 1);
    }
    _mysql41_compatible = -1;
    EXPECT_EQ(db_is_mysql41_compatible(), 1);
}

TEST_F(DbConnectTest, ServersBefore41GetNoSetNames) {
    setMisc("mysql41_compatible", "true");
    PanelServer::start({"--version=4.0.30-log"});
    EXPECT_EQ(connectLogged(),
              std::vector<std::string>(setUpQueries.begin(), setUpQueries.end() - 1));
    EXPECT_EQ(_mysql41_compatible, 0);
    PanelServer::start({"--version=4.1.22-log"});
    EXPECT_EQ(connectLogged(), plus(setUpQueries, "SET NAMES utf8"));
    EXPECT_EQ(_mysql41_compatible, 1);
}

TEST_F(DbConnectTest, PasswordIsTheFirstLineOfTheFile) {
    writeFile(panelPasswordFile, std::string(panelAdminPassword) + "\nsecond line\n");
    EXPECT_TRUE(MysqlHandle(db_connect()));

    writeFile(panelPasswordFile, "");
    EXPECT_EQ(connectError(), "Unable to read admin password file: No data available");
    writeFile(panelPasswordFile, "wrong\n");
    EXPECT_EQ(connectError(), "Unable to connect to Korvo Database: Access denied for user "
                              "'admin'@'localhost' (using password: YES)");
    ASSERT_EQ(unlink(panelPasswordFile), 0);
    CaptureStdout();
    errno = 0;
    EXPECT_FALSE(MysqlHandle(db_connect()));
    EXPECT_EQ(GetCapturedStdout(), "Unable to open admin password file: No such file or "
                                   "directory\nSystem error 2: No such file or directory\n");
}

TEST_F(DbConnectTest, FailedSetUpStepNamesTheStep) {
    panelSql("DROP TABLE misc");
    char errbuf[4097];
    const MysqlHandle kept(korvo_db_connect_ex(errbuf, sizeof errbuf));
    EXPECT_TRUE(kept);
    EXPECT_STREQ(errbuf,
                 "DB error (mysql41 compatible query) 1146: Table 'orq.misc' doesn't exist");
    EXPECT_EQ(connectError(), errbuf);
    EXPECT_FALSE(MysqlHandle(db_connect_nothrow(errbuf, sizeof errbuf)));
}

// Neither a missing socket, nor one nobody listens on, nor a server that
// never answers may keep the tool waiting.
TEST_F(DbConnectTest, AbsentOrSilentServerNeverHangs) {
    PanelServer::stop();
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(connectError(), "Unable to connect to Korvo Database: Can't connect to local server "
                              "through socket '/run/mysqld/mysqld.sock' (2)");
    _mysql41_compatible = -1;
    EXPECT_EQ(db_is_mysql41_compatible(), -1);

    const int planted = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, "/run/mysqld/mysqld.sock");
    ASSERT_EQ(bind(planted, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(connectError(), "Unable to connect to Korvo Database: Can't connect to local server "
                              "through socket '/run/mysqld/mysqld.sock' (111)");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));

    ASSERT_EQ(listen(planted, 5), 0);
    start = std::chrono::steady_clock::now();
    EXPECT_EQ(connectError(), "Unable to connect to Korvo Database: Lost connection to server at "
                              "'handshake: reading initial communication packet', system error: "
                              "110");
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GT(waited, std::chrono::seconds(9));
    EXPECT_LT(waited, std::chrono::seconds(15));
    close(planted);
    unlink("/run/mysqld/mysqld.sock");
}

} // namespace
