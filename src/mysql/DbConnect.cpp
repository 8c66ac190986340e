#include "mysql/DbConnect.h"

#include "utils/Logging.h"
#include "utils/StdioFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

int _mysql41_compatible = -1;

namespace {

const char* const passwordFile = "/etc/orq/.orq.shadow";
const char* const dbHost = "localhost";
const char* const dbUser = "admin";
const char* const dbName = "orq";
const unsigned int connectTimeoutSeconds = 10;

void clearMessage(char* errbuf, std::size_t size) {
    if (size > 0)
        errbuf[0] = '\0';
}

// The password is the first line of the file, at most 99 characters, its
// line feed removed. False with the reason in errbuf when it cannot be read.
bool readPassword(char (&password)[100], char* errbuf, std::size_t size) {
    const korvo::StdioFile file(std::fopen(passwordFile, "r"));
    if (!file) {
        std::snprintf(errbuf, size, "Unable to open admin password file: %s", std::strerror(errno));
        return false;
    }
    errno = 0;
    if (std::fgets(password, sizeof password, file.get()) == nullptr) {
        // An empty file sets no errno: say that there is nothing to read.
        const int error = std::ferror(file.get()) && errno != 0 ? errno : ENODATA;
        std::snprintf(errbuf, size, "Unable to read admin password file: %s", std::strerror(error));
        return false;
    }
    const std::size_t length = std::strlen(password);
    if (length > 0 && password[length - 1] == '\n')
        password[length - 1] = '\0';
    return true;
}

// The server's version text, or false after set_db_errmsg.
bool serverVersion(MYSQL* handle, std::string& version, char* errbuf, std::size_t size) {
    if (mysql_query(handle, "SHOW VARIABLES LIKE 'version'") != 0) {
        set_db_errmsg(handle, errbuf, size, "query version");
        return false;
    }
    const korvo::mysql::StoredResult result(mysql_store_result(handle));
    if (!result) {
        set_db_errmsg(handle, errbuf, size, "store query result");
        return false;
    }
    const MYSQL_ROW row = mysql_fetch_row(result.get());
    if (row == nullptr) {
        set_db_errmsg(handle, errbuf, size, "fetch version row");
        return false;
    }
    if (mysql_num_fields(result.get()) < 2 || row[1] == nullptr || row[1][0] == '\0') {
        set_db_errmsg(handle, errbuf, size, "empty version result");
        return false;
    }
    version = row[1];
    return true;
}

// Whether the panel asks for UTF-8 sessions; false after set_db_errmsg when
// the setting cannot be read.
bool panelWantsUtf8(MYSQL* handle, bool& wanted, char* errbuf, std::size_t size) {
    if (mysql_query(handle, "SELECT val FROM misc WHERE param='mysql41_compatible'") != 0) {
        set_db_errmsg(handle, errbuf, size, "mysql41 compatible query");
        return false;
    }
    const korvo::mysql::StoredResult result(mysql_store_result(handle));
    if (!result) {
        set_db_errmsg(handle, errbuf, size, "mysql41 compatible query");
        return false;
    }
    const MYSQL_ROW row = mysql_fetch_row(result.get());
    wanted = row != nullptr && row[0] != nullptr && row[0][0] != '\0' &&
             std::strcmp(row[0], "false") != 0;
    return true;
}

void setUpSession(MYSQL* handle, char* errbuf, std::size_t size) {
    mysql_query(handle, "set foreign_key_checks=0");
    std::string version;
    if (!serverVersion(handle, version, errbuf, size))
        return;
    if (version.compare(0, 2, "3.") == 0 || version.compare(0, 4, "4.0.") == 0) {
        _mysql41_compatible = 0;
        return;
    }
    bool utf8 = false;
    if (!panelWantsUtf8(handle, utf8, errbuf, size))
        return;
    _mysql41_compatible = utf8 ? 1 : 0;
    if (mysql_query(handle, utf8 ? "SET NAMES utf8" : "SET NAMES binary") != 0)
        set_db_errmsg(handle, errbuf, size, "set names query");
}

} // namespace

MYSQL* korvo_db_connect_raw_ex(char* errbuf, std::size_t size) {
    clearMessage(errbuf, size);
    char password[100];
    if (!readPassword(password, errbuf, size))
        return nullptr;
    korvo::mysql::MysqlHandle handle(mysql_init(nullptr));
    if (!handle) {
        errno = ENOMEM;
        std::snprintf(errbuf, size, "Unable to initialize MySQL connection structure: %s",
                      std::strerror(ENOMEM));
        return nullptr;
    }
    // A server that accepts the connection but never greets (hung, or still
    // starting) would otherwise keep the tool waiting for ever.
    mysql_options(handle.get(), MYSQL_OPT_CONNECT_TIMEOUT, &connectTimeoutSeconds);
    const bool connected = mysql_real_connect(handle.get(), dbHost, dbUser, password, dbName, 0,
                                              nullptr, 0) != nullptr;
    explicit_bzero(password, sizeof password);
    if (!connected) {
        std::snprintf(errbuf, size, "Unable to connect to Korvo Database: %s",
                      mysql_error(handle.get()));
        // The client's text holds the reason; whatever errno its internals
        // left behind would only mislead the printed report.
        handle.reset();
        errno = 0;
        return nullptr;
    }
    return handle.release();
}

MYSQL* korvo_db_connect_raw(char* errbuf, std::size_t size) {
    korvo::mysql::MysqlHandle handle(korvo_db_connect_raw_ex(errbuf, size));
    if (handle && mysql_errno(handle.get()) != 0)
        return nullptr;
    return handle.release();
}

MYSQL* korvo_db_connect_ex(char* errbuf, std::size_t size) {
    MYSQL* const handle = korvo_db_connect_raw(errbuf, size);
    if (handle != nullptr)
        setUpSession(handle, errbuf, size);
    return handle;
}

MYSQL* korvo_db_connect(char* errbuf, std::size_t size) {
    korvo::mysql::MysqlHandle handle(korvo_db_connect_ex(errbuf, size));
    if (handle && mysql_errno(handle.get()) != 0)
        return nullptr;
    return handle.release();
}

MYSQL* db_connect_nothrow(char* errbuf, std::size_t size) {
    return korvo_db_connect(errbuf, size);
}

MYSQL* db_connect() {
    char errbuf[4097];
    MYSQL* const handle = db_connect_nothrow(errbuf, sizeof errbuf);
    if (handle == nullptr)
        messlog2(0, 0, "%s", errbuf);
    return handle;
}

int korvo_db_mysql41_compatible_raw() {
    return _mysql41_compatible;
}

int db_is_mysql41_compatible() {
    if (_mysql41_compatible == -1)
        const korvo::mysql::MysqlHandle probe(db_connect());
    return _mysql41_compatible;
}

void set_db_errmsg(MYSQL* handle, char* errbuf, std::size_t size, const char* step) {
    const unsigned int number = handle != nullptr ? mysql_errno(handle) : 0;
    if (number != 0)
        std::snprintf(errbuf, size, "DB error (%s) %u: %s", step, number, mysql_error(handle));
    else
        std::snprintf(errbuf, size, "DB error (%s): unknown error", step);
}

namespace korvo::mysql {

namespace {
SharedConnection* innermostShared = nullptr;
} // namespace

SharedConnection::SharedConnection() : outer_(innermostShared) {
    innermostShared = this;
}

SharedConnection::~SharedConnection() {
    innermostShared = outer_;
}

MYSQL* SharedConnection::current() {
    if (innermostShared == nullptr)
        return nullptr;
    MysqlHandle& handle = innermostShared->handle_;
    if (!handle)
        handle.reset(db_connect());
    return handle.get();
}

GivenOrOwnHandle::GivenOrOwnHandle(MYSQL* given) : inUse_(given) {
    if (inUse_ != nullptr)
        return;
    if (innermostShared != nullptr) {
        inUse_ = SharedConnection::current();
        return;
    }
    own_.reset(db_connect());
    inUse_ = own_.get();
}

} // namespace korvo::mysql
