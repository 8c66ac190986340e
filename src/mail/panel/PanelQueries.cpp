#include "mail/panel/PanelQueries.h"

#include "mysql/DbConnect.h"
#include "utils/Idn.h"
#include "utils/Logging.h"
#include "utils/MallocOwners.h"
#include "utils/StringList.h"
#include "utils/StringUtils.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

using korvo::mysql::GivenOrOwnHandle;

namespace {

using korvo::MallocString;

using korvo::mysql::StoredResult;

const std::size_t valueBufferSize = 4096;

// The messages printed through messlog2 here carry their own reason; errno
// is cleared before each so that no stale system error is appended (a
// failed connection has already been reported with its own).

// The name as it may stand between single quotes on this connection.
std::string quoted(MYSQL* conn, const char* name) {
    const std::size_t length = std::strlen(name);
    std::string escaped(2 * length + 1, '\0');
    escaped.resize(mysql_real_escape_string(conn, escaped.data(), name, length));
    return escaped;
}

// Opens a connection when conn is null, builds the query text on it (names
// are escaped for that connection) and collects the first column.
template <typename BuildQuery> int listQuery(MYSQL* conn, char*** list, BuildQuery build) {
    const GivenOrOwnHandle db(conn);
    if (db.get() == nullptr) {
        return korvo_error("Unable to connect to mysql database");
    }
    const MallocString query(build(db.get()));
    return exec_mysql_query(db.get(), query.get(), list);
}

// Copies the first column of the first row into buffer ("" for no row or
// NULL). False when the query fails.
bool firstValue(MYSQL* conn, const char* query, char (&buffer)[valueBufferSize]) {
    if (mysql_query(conn, query) != 0)
        return false;
    const StoredResult result(mysql_store_result(conn));
    if (!result)
        return false;
    const MYSQL_ROW row = mysql_fetch_row(result.get());
    buffer[0] = '\0';
    if (row != nullptr && row[0] != nullptr) {
        std::strncpy(buffer, row[0], valueBufferSize - 1);
        buffer[valueBufferSize - 1] = '\0';
    }
    return true;
}

// The first value of the query built on the connection (opened here when
// conn is null), copied into buffer; null after a message.
template <typename BuildQuery, typename ReportFailure>
const char* valueQuery(MYSQL* conn, char (&buffer)[valueBufferSize], BuildQuery build,
                       ReportFailure reportFailure) {
    const GivenOrOwnHandle db(conn);
    errno = 0;
    if (db.get() == nullptr) {
        messlog2(0, 0, "Unable to connect to the mysql database\n");
        return nullptr;
    }
    const MallocString query(build(db.get()));
    if (!firstValue(db.get(), query.get(), buffer)) {
        errno = 0;
        reportFailure(db.get(), query.get());
        return nullptr;
    }
    return buffer;
}

} // namespace

int exec_mysql_query(MYSQL* conn, const char* query, char*** list) {
    const GivenOrOwnHandle db(conn);
    if (db.get() == nullptr) {
        return korvo_error("Unable to connect to mysql database");
    }
    if (mysql_query(db.get(), query) != 0) {
        return korvo_error("Unable to get data from mysql database");
    }
    const StoredResult result(mysql_store_result(db.get()));
    if (!result) {
        return korvo_error("Unable to get data from mysql database");
    }
    korvo::StringListOwner rows;
    while (const MYSQL_ROW row = mysql_fetch_row(result.get())) {
        // A NULL name names nothing.
        if (row[0] == nullptr)
            continue;
        char** const grown = string_to_mas(rows.get(), row[0]);
        if (grown == nullptr) {
            return korvo_error("Query error: %s", mysql_error(db.get()));
        }
        *rows.out() = grown;
    }
    *list = rows.release();
    return 0;
}

int get_domaliases_by_domain(MYSQL* conn, char*** list, const char* domain) {
    const int rc = listQuery(conn, list, [domain](MYSQL* db) {
        return asprintf_safe("SELECT da.name FROM domainaliases da JOIN domains d WHERE "
                             "da.dom_id=d.id and d.name='%s'",
                             quoted(db, domain).c_str());
    });
    if (rc != 0)
        korvo_log(LOG_LEVEL_ERROR, "Unable to get domain aliases from database for: %s", domain);
    return rc;
}

int get_aliases_by_mailname(MYSQL* conn, char*** list, const char* mailname, const char* domain) {
    const int rc = listQuery(conn, list, [mailname, domain](MYSQL* db) {
        return asprintf_safe("SELECT ma.alias FROM mail_aliases ma JOIN mail m, domains d WHERE "
                             "ma.mn_id=m.id AND m.mail_name='%s' AND m.dom_id=d.id AND d.name='%s'",
                             quoted(db, mailname).c_str(), quoted(db, domain).c_str());
    });
    if (rc != 0)
        korvo_log(LOG_LEVEL_ERROR, "Unable to get aliases for mailname: %s@%s", mailname, domain);
    return rc;
}

int get_mailnames_by_domain(MYSQL* conn, char*** list, const char* domain) {
    const int rc = listQuery(conn, list, [domain](MYSQL* db) {
        return asprintf_safe(
            "SELECT m.mail_name FROM mail m JOIN domains d WHERE m.dom_id=d.id AND d.name='%s'",
            quoted(db, domain).c_str());
    });
    if (rc != 0)
        korvo_log(LOG_LEVEL_ERROR, "Unable to get mailnames from domain: %s", domain);
    return rc;
}

int get_mailnames_with_aliases(MYSQL* conn, korvo::mail::MailnameAliasList& list,
                               const char* domain) {
    const GivenOrOwnHandle db(conn);
    if (db.get() == nullptr) {
        korvo_log(LOG_LEVEL_ERROR, "Unable to connect to mysql database");
        return korvo_error("Unable to get mailnames from domain: %s", domain);
    }
    // A mailname without aliases comes back once, with a NULL alias.
    const MallocString query(asprintf_safe(
        "SELECT m.mail_name, ma.alias FROM mail m JOIN domains d ON m.dom_id=d.id "
        "LEFT JOIN mail_aliases ma ON ma.mn_id=m.id WHERE d.name='%s' ORDER BY m.id, ma.id",
        quoted(db.get(), domain).c_str()));
    StoredResult result;
    if (mysql_query(db.get(), query.get()) == 0)
        result.reset(mysql_store_result(db.get()));
    if (!result) {
        korvo_log(LOG_LEVEL_ERROR, "Unable to get data from mysql database");
        return korvo_error("Unable to get mailnames from domain: %s", domain);
    }
    korvo::mail::MailnameAliasList found;
    while (const MYSQL_ROW row = mysql_fetch_row(result.get())) {
        if (row[0] == nullptr)
            continue;
        if (found.empty() || found.back().mailname != row[0])
            found.push_back({row[0], {}});
        if (row[1] != nullptr)
            found.back().aliases.emplace_back(row[1]);
    }
    list.swap(found);
    return 0;
}

int get_domain_by_domainalias(MYSQL* conn, char** name, const char* alias) {
    korvo::StringListOwner domains;
    const int rc = listQuery(conn, domains.out(), [alias](MYSQL* db) {
        return asprintf_safe("SELECT d.name FROM domains d JOIN domainaliases da WHERE "
                             "d.id=da.dom_id AND da.name='%s'",
                             quoted(db, alias).c_str());
    });
    if (rc != 0) {
        return korvo_error("Unable to get domain by domainalias: %s", alias);
    }
    if (domains.empty())
        return 0;
    char* const copy = strdup(domains.get()[0]);
    if (copy == nullptr) {
        return korvo_error("Unable to get domain by domainalias: %s", alias);
    }
    *name = copy;
    return 0;
}

const char* get_dom_Limit(const char* domainId, const char* limitName, MYSQL* conn) {
    static char value[valueBufferSize];
    return valueQuery(
        conn, value,
        [=](MYSQL* db) {
            return asprintf_safe("select l.value from domains d, Limits l \t\t\t\t where "
                                 "d.id='%s' and d.limits_id=l.id  and l.limit_name='%s'",
                                 quoted(db, domainId).c_str(), quoted(db, limitName).c_str());
        },
        [=](MYSQL* db, const char*) {
            messlog2(0, 0, "Unable to query domain limit %s: %s\n", limitName, mysql_error(db));
        });
}

const char* get_param(const char* name, MYSQL* conn) {
    static char value[valueBufferSize];
    return valueQuery(
        conn, value,
        [=](MYSQL* db) {
            return asprintf_safe("select %s from %s where %s='%s'", "val", "misc", "param",
                                 quoted(db, name).c_str());
        },
        [](MYSQL* db, const char* query) {
            messlog2(0, 0, "Unable to query parameter by query %s: %s\n", query, mysql_error(db));
        });
}

char* mysql_escape_mail_entity(MYSQL* conn, const char* name) {
    const GivenOrOwnHandle db(conn);
    if (db.get() == nullptr) {
        errno = 0;
        messlog2(0, 0, "Unable to connect to the mysql database\n");
        return nullptr;
    }
    const MallocString ascii(idn_toascii(name));
    if (!ascii) {
        errno = 0;
        messlog2(0, 0, "idn_toascii(%s) failed: %s", name, idn_strerror(idn_errno));
        return nullptr;
    }
    const std::size_t length = std::strlen(ascii.get());
    char* const escaped = static_cast<char*>(std::malloc(2 * length + 1));
    if (escaped == nullptr) {
        errno = 0;
        messlog2(0, 0, "unable to allocate memory to properly escape %s", name);
        return nullptr;
    }
    mysql_real_escape_string(db.get(), escaped, ascii.get(), length);
    return escaped;
}

namespace korvo::mail {

std::optional<std::vector<std::string>> domainAliasesOf(const std::string& domain) {
    StringListOwner aliases;
    if (get_domaliases_by_domain(nullptr, aliases.out(), domain.c_str()) != 0)
        return std::nullopt;
    return std::vector<std::string>(aliases.begin(), aliases.end());
}

} // namespace korvo::mail
