#include "mail/storage/DomainQuota.h"

#include "mail/panel/PanelQueries.h"
#include "mail/storage/MailboxQuota.h"
#include "mysql/DbConnect.h"
#include "utils/Logging.h"
#include "utils/MallocOwners.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

using korvo::mysql::MysqlHandle;

constexpr std::size_t queryBufferSize = 1024;

using korvo::mysql::StoredResult;

using korvo::MallocString;

// Messages about the database carry no system error of their own.
template <typename... Args> void report(const char* format, Args... args) {
    errno = 0;
    messlog2(0, 0, format, args...);
}

MysqlHandle connect() {
    MysqlHandle db(db_connect());
    if (!db)
        report("unable to connect to MySQL");
    return db;
}

// The query text with the domain put in (ASCII form, escaped); "" after a
// message.
std::string domainQuery(MYSQL* db, const char* format, const char* domain) {
    const MallocString escaped(mysql_escape_mail_entity(db, domain));
    if (!escaped)
        return "";
    char query[queryBufferSize];
    const int length = std::snprintf(query, sizeof query, format, escaped.get());
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof query) {
        report("domain name is too long to fit query buffer");
        return "";
    }
    return query;
}

// Runs query and stores its result; null after the message queryFailed or
// storeFailed with the server's error text.
StoredResult runQuery(MYSQL* db, const std::string& query, const char* queryFailed,
                      const char* storeFailed) {
    if (mysql_query(db, query.c_str()) != 0) {
        report(queryFailed, mysql_error(db));
        return nullptr;
    }
    StoredResult result(mysql_store_result(db));
    if (!result)
        report(storeFailed, mysql_error(db));
    return result;
}

// The quota a panel value stands for: the number, or -1 (the default) for
// NULL and anything that is not a number.
long long quotaValue(const char* text) {
    if (text == nullptr || *text == '\0')
        return -1;
    char* end = nullptr;
    errno = 0;
    const long long value = std::strtoll(text, &end, 10);
    return *end != '\0' || errno == ERANGE ? -1 : value;
}

} // namespace

int store_default_mbox_quota(const char* domain, long long quota) {
    const MysqlHandle db = connect();
    if (!db)
        return 0;
    const std::string query = domainQuery(
        db.get(),
        "SELECT m.mail_name, m.mbox_quota FROM mail m, domains d WHERE d.id = m.dom_id AND "
        "d.name='%s' ",
        domain);
    if (query.empty())
        return 0;
    const StoredResult result =
        runQuery(db.get(), query, "Unable to query mailnames: %s", "Unable to query mailnames: %s");
    if (!result)
        return 0;
    while (const MYSQL_ROW row = mysql_fetch_row(result.get())) {
        if (row[0] == nullptr || quotaValue(row[1]) != -1)
            continue;
        if (!store_mbox_quota(domain, row[0], quota)) {
            report("unable to set default mbox quota for domain '%s' (processing '%s')", domain,
                   row[0]);
            return 0;
        }
    }
    return 1;
}

int store_domain_quota(const char* domain, long long quota) {
    return store_default_mbox_quota(domain, quota);
}

int rm_default_mbox_quota(const char* domain) {
    return store_default_mbox_quota(domain, -1);
}

int rm_domain_quota(const char* domain) {
    return store_default_mbox_quota(domain, -1);
}

int rm_mbox_quota(const char* domain, const char* mailname) {
    const MysqlHandle db = connect();
    if (!db)
        return 0;
    const std::string query =
        domainQuery(db.get(), "SELECT id FROM domains WHERE name='%s'", domain);
    if (query.empty())
        return 0;
    const StoredResult result = runQuery(db.get(), query, "Unable to query domain ID: %s",
                                         "Unable to get domain ID query result: %s");
    if (!result)
        return 0;
    const MYSQL_ROW row = mysql_fetch_row(result.get());
    if (row == nullptr || row[0] == nullptr) {
        report("No such domain %s", domain);
        return 0;
    }
    const char* limit = get_dom_Limit(row[0], "mbox_quota", db.get());
    if (limit == nullptr)
        return 0;
    return store_mbox_quota(domain, mailname, quotaValue(limit));
}
