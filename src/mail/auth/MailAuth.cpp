#include "mail/auth/MailAuth.h"

#include "mail/auth/MailAuthSchema.h"
#include "mail/auth/Sqlite.h"
#include "utils/Logging.h"
#include "utils/MallocOwners.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

using korvo::mail::auth::Interrupted;
using korvo::mail::auth::SqliteDatabase;
using korvo::mail::auth::SqliteStatement;

namespace {

const char* const selectDomainSql = "SELECT id FROM domains WHERE name=?";
const char* const insertDomainSql = "INSERT INTO domains (name, status) VALUES(?, ?)";
const char* const setCryptedSql =
    "INSERT OR REPLACE INTO users (name, cmusaslsecretPLAIN, status, dom_id) VALUES (?, ?, ?, ?)";
const char* const setPlainSql =
    "INSERT OR REPLACE INTO users (name, userPassword, status, dom_id) VALUES (?, ?, ?, ?)";
const char* const removeUserSql = "DELETE FROM users WHERE name=? AND dom_id=?";
const char* const renameUserSql = "UPDATE users SET name=? WHERE name=? AND dom_id=?";
const char* const removeDomainSql = "DELETE FROM domains WHERE name=?";
const char* const domainStatusSql = "UPDATE domains SET status=? WHERE name=?";
const char* const cloneDomainSql = "SELECT id, status FROM domains WHERE name=?";
const char* const cloneUserSql =
    "SELECT name, userPassword, cmusaslsecretPLAIN, status FROM users WHERE dom_id=? AND name=?";
// Links nothing while either row is missing.
const char* const linkAliasSql =
    "INSERT OR REPLACE INTO domain_aliases (alias_id, dom_id) SELECT a.id, d.id FROM domains a, "
    "domains d WHERE a.name=? AND d.name=?";
const char* const noDomainMessage = "No such domain '%s' in the mail authentication DB";
const char* const usersListMessage = "Unable to get users list from MTA password database";
const char* const domainNameBindMessage =
    "Unable to bind parameter domain name '%s' to  SQL statement for query '%s': %s";
const char* const domainIdBindMessage = "Unable to bind parameter domain ID for mail address "
                                        "'%s@%s' to  SQL statement for query '%s': %s";
const int busyTimeoutMs = 50;

constexpr bool READ_ONLY = true;
constexpr bool READ_WRITE = false;

bool openDatabase(SqliteDatabase& db, bool readOnly) {
    if (db.open(mailAuthDB, readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) == SQLITE_OK)
        return true;
    korvo_log(LOG_LEVEL_ERROR,
              readOnly ? "Unable to open database(readonly) %s: %s"
                       : "Unable to open database %s: %s",
              mailAuthDB.c_str(), db.errorText());
    return false;
}

bool openForWrite(SqliteDatabase& db) {
    if (!openDatabase(db, READ_WRITE))
        return false;
    sqlite3_busy_timeout(db.get(), busyTimeoutMs);
    return true;
}

const char* errorText(sqlite3* db) {
    return db != nullptr ? sqlite3_errmsg(db) : "general DB errror";
}

// True when a bind succeeded; otherwise logs format with args and SQLite's
// text.
template <typename... Args>
bool bound(int rc, sqlite3* db, const char* format, const Args... args) {
    if (rc == SQLITE_OK)
        return true;
    korvo_log(LOG_LEVEL_ERROR, format, args..., errorText(db));
    return false;
}

bool prepare(SqliteStatement& stmt, sqlite3* db, const char* sql) {
    const int rc = stmt.prepare(db, sql);
    if (rc == SQLITE_OK)
        return true;
    if (rc != Interrupted)
        korvo_log(LOG_LEVEL_ERROR, "Unable to prepare SQL statement for query '%s': %s", sql,
                  errorText(db));
    return false;
}

// Runs a prepared write; on failure logs failureFormat with SQLite's text.
bool runWrite(SqliteStatement& stmt, sqlite3* db, const char* failureFormat) {
    const int rc = stmt.step();
    if (rc == SQLITE_DONE)
        return true;
    if (rc != Interrupted)
        korvo_log(LOG_LEVEL_ERROR, failureFormat, errorText(db));
    return false;
}

// Finalizes the statement and closes the database; result unless the close
// was interrupted.
int finish(SqliteStatement& stmt, SqliteDatabase& db, int result) {
    stmt.finalize();
    return db.close() == SQLITE_OK ? result : -1;
}

// -1: error (logged), 0: no such domain, 1: found (id set).
int lookUpDomain(const char* domain, sqlite3* db, int& id) {
    SqliteStatement stmt;
    if (!prepare(stmt, db, selectDomainSql) ||
        !bound(stmt.bindText(1, domain), db, domainNameBindMessage, domain, selectDomainSql))
        return -1;
    const int rc = stmt.step();
    if (rc == SQLITE_ROW) {
        id = sqlite3_column_int(stmt.get(), 0);
        return 1;
    }
    if (rc == SQLITE_DONE)
        return 0;
    if (rc != Interrupted)
        korvo_log(LOG_LEVEL_ERROR, "Unable to execute the domain selection query: %s",
                  errorText(db));
    return -1;
}

enum class Registration { Done, Taken, Failed };

// Inserts the domain. Taken when the name is already registered (SQLite's
// text then in takenText); Failed after logging or an interrupted wait.
Registration registerDomain(const char* domain, sqlite3* db, int status, std::string& takenText) {
    SqliteStatement stmt;
    if (!prepare(stmt, db, insertDomainSql) ||
        !bound(stmt.bindText(1, domain), db, domainNameBindMessage, domain, insertDomainSql) ||
        !bound(stmt.bindInt(2, status), db,
               "Unable to bind parameter status '%d' for domain '%s' to SQL statement for query "
               "'%s': %s",
               status, domain, insertDomainSql))
        return Registration::Failed;
    const int rc = stmt.step();
    if (rc == SQLITE_DONE)
        return Registration::Done;
    if (rc == SQLITE_CONSTRAINT) {
        takenText = errorText(db);
        return Registration::Taken;
    }
    if (rc != Interrupted)
        korvo_log(LOG_LEVEL_ERROR,
                  "Unable to execute the mail domain authentication registration query: %s",
                  errorText(db));
    return Registration::Failed;
}

using korvo::MallocString;

// The credentials of one user as the clone reads them.
struct Credentials {
    MallocString password;
    int flags = 0;
};

// -1: error (logged), 0: no such domain, 1: found (id set, flags holding
// DomainDisabled when the domain is switched off).
int readSourceDomain(sqlite3* db, const char* domain, int& id, int& flags) {
    SqliteStatement domainStmt;
    if (!prepare(domainStmt, db, cloneDomainSql))
        return -1;
    if (domainStmt.bindText(1, domain) != SQLITE_OK) {
        korvo_log(LOG_LEVEL_ERROR, "Unable to bind parameter domain id for: %s: %s", domain,
                  errorText(db));
        return korvo_error("%s", usersListMessage);
    }
    const int rc = domainStmt.step();
    if (rc == SQLITE_DONE)
        return 0;
    if (rc != SQLITE_ROW) {
        if (rc != Interrupted) {
            korvo_log(LOG_LEVEL_ERROR, "Unable to get domain id: %s", errorText(db));
            korvo_log(LOG_LEVEL_ERROR, "Unable to get mail domain id for: %s", domain);
            korvo_log(LOG_LEVEL_ERROR, "%s", usersListMessage);
        }
        return -1;
    }
    id = sqlite3_column_int(domainStmt.get(), 0);
    flags = sqlite3_column_int(domainStmt.get(), 1) != 0 ? DomainDisabled : 0;
    return 1;
}

// Prepares the user lookup within one domain; false after a message.
bool prepareUserLookup(SqliteStatement& stmt, sqlite3* db, const char* domain, int domainId) {
    if (!prepare(stmt, db, cloneUserSql))
        return false;
    if (stmt.bindInt(1, domainId) == SQLITE_OK)
        return true;
    korvo_log(LOG_LEVEL_ERROR, "Unable to bind parameter bind domain id for: %s: %s", domain,
              errorText(db));
    korvo_log(LOG_LEVEL_ERROR, "%s", usersListMessage);
    return false;
}

// Reads the user through a prepared lookup (prepareUserLookup), which may
// have run before. -1: error (logged), 0: no such user, 1: found.
int readUser(SqliteStatement& stmt, sqlite3* db, const char* mailname, const char* domain,
             int domainFlags, Credentials& found) {
    sqlite3_reset(stmt.get());
    if (stmt.bindText(2, mailname) != SQLITE_OK) {
        korvo_log(LOG_LEVEL_ERROR, "Unable to bind parameter bind mailname %s: %s", mailname,
                  errorText(db));
        return korvo_error("%s", usersListMessage);
    }
    const int rc = stmt.step();
    if (rc == SQLITE_DONE)
        return 0;
    if (rc != SQLITE_ROW) {
        if (rc != Interrupted)
            korvo_log(LOG_LEVEL_ERROR, "Unable to get passwd for mailname: %s: %s", mailname,
                      errorText(db));
        return -1;
    }
    sqlite3_stmt* const row = stmt.get();
    found.flags = domainFlags;
    if (sqlite3_column_int(row, 3) != 0)
        found.flags |= UserDisabled;
    const unsigned char* password = sqlite3_column_text(row, 2);
    if (password != nullptr)
        found.flags |= Crypted;
    else
        password = sqlite3_column_text(row, 1);
    // Neither column set: there is nothing that could be copied.
    if (password == nullptr) {
        return korvo_error("No password stored for mailname %s@%s", mailname, domain);
    }
    found.password.reset(strdup(reinterpret_cast<const char*>(password)));
    if (!found.password) {
        return korvo_error("System error: %s", std::strerror(errno));
    }
    return 1;
}

// -1: error (logged), 0: no such user, 1: found.
int readCredentials(sqlite3* db, const char* mailname, const char* domain, Credentials& found) {
    int domainId = 0;
    int domainFlags = 0;
    const int domainFound = readSourceDomain(db, domain, domainId, domainFlags);
    if (domainFound != 1)
        return domainFound;
    SqliteStatement lookup;
    if (!prepareUserLookup(lookup, db, domain, domainId))
        return -1;
    return readUser(lookup, db, mailname, domain, domainFlags, found);
}

} // namespace

int getDomainId(const char* domain, sqlite3* db, int flags) {
    int id = -1;
    const int found = lookUpDomain(domain, db, id);
    if (found != 0)
        return found == 1 ? id : -1;
    if (flags & NoNewDomain)
        return -1;
    std::string takenText;
    switch (registerDomain(domain, db, flags != 0 ? 1 : 0, takenText)) {
    case Registration::Done:
        return static_cast<int>(sqlite3_last_insert_rowid(db));
    case Registration::Taken:
        // Another process may have registered the same name since the
        // lookup: its row serves as well.
        if (lookUpDomain(domain, db, id) == 1)
            return id;
        return korvo_error(
            "Unable to execute the mail domain authentication registration query: %s",
            takenText.c_str());
    case Registration::Failed:
        break;
    }
    return -1;
}

namespace {

// Writes the user through a prepared statement of setCryptedSql or
// setPlainSql (as flags say), which may have run before; false after a
// message.
bool writeUser(SqliteStatement& stmt, sqlite3* db, const char* mailname, const char* domain,
               const char* password, int flags, int domainId) {
    const char* const sql = sqlite3_sql(stmt.get());
    sqlite3_reset(stmt.get());
    return bound(stmt.bindText(1, mailname), db,
                 "Unable to bind parameter mailname '%s' to SQL statement for query '%s': %s",
                 mailname, sql) &&
           bound(stmt.bindText(2, password), db,
                 "Unable to bind parameter password for mail address '%s@%s' to SQL statement "
                 "for query '%s': %s",
                 mailname, domain, sql) &&
           bound(stmt.bindInt(3, (flags & UserDisabled) ? 1 : 0), db,
                 "Unable to bind parameter status for mail address '%s@%s' to  SQL statement for "
                 "query '%s': %s",
                 mailname, domain, sql) &&
           bound(stmt.bindInt(4, domainId), db, domainIdBindMessage, mailname, domain, sql) &&
           runWrite(stmt, db, "Unable to execute the mail authorization registration query: %s");
}

// The domain's id, registered when needed; -1 after a message.
int storedDomainId(sqlite3* db, const char* domain, int flags) {
    const int domainId = getDomainId(domain, db, flags & DomainDisabled);
    if (domainId == -1)
        korvo_log(LOG_LEVEL_ERROR, noDomainMessage, domain);
    return domainId;
}

// Stores the user on the open handle, registering the domain when needed;
// false after a message.
bool storeUser(sqlite3* db, const char* mailname, const char* domain, const char* password,
               int flags) {
    const int domainId = storedDomainId(db, domain, flags);
    SqliteStatement stmt;
    return domainId != -1 && prepare(stmt, db, (flags & Crypted) ? setCryptedSql : setPlainSql) &&
           writeUser(stmt, db, mailname, domain, password, flags, domainId);
}

// Copies users from one domain to another on an open handle, every
// statement prepared once: a domain alias of thousands of mailboxes costs
// one lookup and one write per user.
class UserCopier {
public:
    UserCopier(sqlite3* db, const char* srcDomain, const char* dstDomain)
        : db_(db), src_(srcDomain), dst_(dstDomain) {}

    // -1: error (logged), 0: the source domain is unknown (nothing to
    // copy), 1: ready.
    int start() {
        const int found = readSourceDomain(db_, src_, srcId_, srcFlags_);
        if (found != 1)
            return found;
        return prepareUserLookup(lookup_, db_, src_, srcId_) ? 1 : -1;
    }

    // Copies the user when the source has it; false after a message.
    bool copy(const char* mailname) {
        Credentials source;
        const int found = readUser(lookup_, db_, mailname, src_, srcFlags_, source);
        if (found != 1)
            return found == 0;
        if (dstId_ == -1 && (dstId_ = storedDomainId(db_, dst_, source.flags)) == -1)
            return false;
        const bool crypted = (source.flags & Crypted) != 0;
        SqliteStatement& write = crypted ? writeCrypted_ : writePlain_;
        if (write.get() == nullptr && !prepare(write, db_, crypted ? setCryptedSql : setPlainSql))
            return false;
        return writeUser(write, db_, mailname, dst_, source.password.get(), source.flags, dstId_);
    }

private:
    sqlite3* const db_;
    const char* const src_;
    const char* const dst_;
    int srcId_ = 0;
    int srcFlags_ = 0;
    int dstId_ = -1;
    SqliteStatement lookup_;
    SqliteStatement writeCrypted_;
    SqliteStatement writePlain_;
};

// Runs one statement without parameters; false after a message.
bool runStatement(sqlite3* db, const char* sql) {
    SqliteStatement stmt;
    return prepare(stmt, db, sql) &&
           runWrite(stmt, db, "Unable to execute a mail authentication statement: %s");
}

} // namespace

int mailAuthSet(const char* mailname, const char* domain, const char* password, int flags) {
    SqliteDatabase db;
    if (!openForWrite(db))
        return -1;
    const bool done = storeUser(db.get(), mailname, domain, password, flags);
    return db.close() == SQLITE_OK && done ? 0 : -1;
}

int set_postbox_passwd(const char* mailname, const char* domain, const char* password, int flags) {
    if (password != nullptr && password[0] != '\0')
        return mailAuthSet(mailname, domain, password, flags);
    return mailAuthRemove(mailname, domain);
}

namespace {

// The user leaves the domain on the open handle; an unknown domain or user
// is no error. False after a message.
bool removeUser(sqlite3* db, const char* mailname, const char* domain) {
    const int domainId = getDomainId(domain, db, NoNewDomain);
    if (domainId == -1)
        return true;
    SqliteStatement stmt;
    return prepare(stmt, db, removeUserSql) &&
           bound(stmt.bindText(1, mailname), db,
                 "Unable to bind parameter mailname '%s' to  SQL statement for query '%s': %s",
                 mailname, removeUserSql) &&
           bound(stmt.bindInt(2, domainId), db, domainIdBindMessage, mailname, domain,
                 removeUserSql) &&
           runWrite(stmt, db, "Unable to execute the mail authorization removal query: %s");
}

// Renames the user within the registered domain on the open handle; false
// after a message.
bool renameUser(sqlite3* db, const char* oldMailname, const char* newMailname, const char* domain) {
    const int domainId = getDomainId(domain, db, NoNewDomain);
    if (domainId == -1) {
        korvo_log(LOG_LEVEL_ERROR, noDomainMessage, domain);
        return false;
    }
    SqliteStatement stmt;
    return prepare(stmt, db, renameUserSql) &&
           bound(stmt.bindText(1, newMailname), db,
                 "Unable to bind parameter new mailname '%s' to  SQL statement for query '%s': %s",
                 newMailname, renameUserSql) &&
           bound(stmt.bindText(2, oldMailname), db,
                 "Unable to bind parameter old mailname '%s' to  SQL statement for query '%s': %s",
                 oldMailname, renameUserSql) &&
           bound(stmt.bindInt(3, domainId), db, domainIdBindMessage, oldMailname, domain,
                 renameUserSql) &&
           runWrite(stmt, db, "Unable to execute the mail authorization renaming query: %s");
}

// Runs work on one handle; 0 when it succeeded, -1 otherwise.
template <typename Work> int onOneHandle(Work work) {
    SqliteDatabase db;
    if (!openForWrite(db))
        return -1;
    const bool done = work(db.get());
    return db.close() == SQLITE_OK && done ? 0 : -1;
}

// Runs work on one handle inside one transaction, committed whatever work
// did: what it changed before a failure stays, as a run of single
// statements would leave it.
template <typename Work> int inOneTransaction(Work work) {
    return onOneHandle([&](sqlite3* db) {
        if (!runStatement(db, "BEGIN IMMEDIATE"))
            return false;
        const bool done = work(db);
        return runStatement(db, "COMMIT") && done;
    });
}

} // namespace

int mailAuthRemove(const char* mailname, const char* domain) {
    return onOneHandle([&](sqlite3* db) { return removeUser(db, mailname, domain); });
}

namespace {

// Runs change(db, mailname, domain) for each mailname on each domain in one
// transaction; stops at the first failure, logging failure (NAME, DOMAIN).
template <typename Change>
int forEachAddress(const std::vector<std::string>& mailnames,
                   const std::vector<std::string>& domains, const char* failure, Change change) {
    if (mailnames.empty() || domains.empty())
        return 0;
    return inOneTransaction([&](sqlite3* db) {
        for (const std::string& mailname : mailnames) {
            for (const std::string& domain : domains) {
                if (!change(db, mailname.c_str(), domain.c_str())) {
                    korvo_log(LOG_LEVEL_ERROR, failure, mailname.c_str(), domain.c_str());
                    return false;
                }
            }
        }
        return true;
    });
}

} // namespace

int mailAuthRemoveFrom(const std::vector<std::string>& mailnames,
                       const std::vector<std::string>& domains, const char* failure) {
    return forEachAddress(mailnames, domains, failure, removeUser);
}

int mailAuthSetIn(const std::vector<std::string>& mailnames,
                  const std::vector<std::string>& domains, const char* password, int flags) {
    const bool remove = password == nullptr || password[0] == '\0';
    return forEachAddress(mailnames, domains, "Unable to set password for mailname %s@%s",
                          [&](sqlite3* db, const char* mailname, const char* domain) {
                              return remove ? removeUser(db, mailname, domain)
                                            : storeUser(db, mailname, domain, password, flags);
                          });
}

int mailAuthRename(const char* oldMailname, const char* newMailname, const char* domain) {
    return onOneHandle(
        [&](sqlite3* db) { return renameUser(db, oldMailname, newMailname, domain); });
}

int mailAuthRenameIn(const char* oldMailname, const char* newMailname,
                     const std::vector<std::string>& domains) {
    if (domains.empty())
        return 0;
    return inOneTransaction([&](sqlite3* db) {
        for (const std::string& domain : domains)
            if (!renameUser(db, oldMailname, newMailname, domain.c_str()))
                return false;
        return true;
    });
}

int mailAuthClone(const char* srcMailname, const char* srcDomain, const char* dstMailname,
                  const char* dstDomain) {
    Credentials source;
    {
        SqliteDatabase db;
        if (!openDatabase(db, READ_ONLY))
            return -1;
        const int found = readCredentials(db.get(), srcMailname, srcDomain, source);
        if (db.close() != SQLITE_OK || found != 1)
            return found == 0 ? 0 : -1;
    }
    return mailAuthSet(dstMailname, dstDomain, source.password.get(), source.flags);
}

int mailAuthCloneTo(const char* mailname, const char* srcDomain,
                    const std::vector<std::string>& dstDomains) {
    if (dstDomains.empty())
        return 0;
    return inOneTransaction([&](sqlite3* db) {
        Credentials source;
        const int found = readCredentials(db, mailname, srcDomain, source);
        if (found != 1)
            return found == 0;
        for (const std::string& dstDomain : dstDomains)
            if (!storeUser(db, mailname, dstDomain.c_str(), source.password.get(), source.flags))
                return false;
        return true;
    });
}

int mailAuthCloneUsers(const std::vector<std::string>& mailnames, const char* srcDomain,
                       const char* dstDomain) {
    if (mailnames.empty())
        return 0;
    return inOneTransaction([&](sqlite3* db) {
        UserCopier copier(db, srcDomain, dstDomain);
        const int ready = copier.start();
        if (ready == -1) {
            korvo_log(LOG_LEVEL_ERROR, "Unable to clone auth record for %s@%s",
                      mailnames.front().c_str(), dstDomain);
            return false;
        }
        for (auto name = mailnames.begin(); ready == 1 && name != mailnames.end(); ++name) {
            if (!copier.copy(name->c_str())) {
                korvo_log(LOG_LEVEL_ERROR, "Unable to clone auth record for %s@%s", name->c_str(),
                          dstDomain);
                return false;
            }
        }
        return true;
    });
}

namespace {

// Adds the link table, its index and trigger where they are missing; false
// after a message.
bool ensureAliasLinks(sqlite3* db) {
    if (sqlite3_exec(db, korvo::mail::auth::MAIL_AUTH_ALIAS_LINKS, nullptr, nullptr, nullptr) ==
        SQLITE_OK)
        return true;
    korvo_log(LOG_LEVEL_ERROR, "Unable to add the domain alias links to %s: %s", mailAuthDB.c_str(),
              errorText(db));
    return false;
}

bool linkAlias(SqliteStatement& stmt, sqlite3* db, const char* domain, const char* alias) {
    sqlite3_reset(stmt.get());
    return bound(stmt.bindText(1, alias), db, domainNameBindMessage, alias, linkAliasSql) &&
           bound(stmt.bindText(2, domain), db, domainNameBindMessage, domain, linkAliasSql) &&
           runWrite(stmt, db, "Unable to execute the domain alias link query: %s");
}

} // namespace

int mailAuthLinkAliases(const char* domain, const std::vector<std::string>& aliases) {
    if (aliases.empty())
        return 0;
    return inOneTransaction([&](sqlite3* db) {
        SqliteStatement stmt;
        if (!ensureAliasLinks(db) || !prepare(stmt, db, linkAliasSql))
            return false;
        for (const std::string& alias : aliases) {
            if (!linkAlias(stmt, db, domain, alias.c_str())) {
                korvo_log(LOG_LEVEL_ERROR, "Unable to link domain alias %s to %s", alias.c_str(),
                          domain);
                return false;
            }
        }
        return true;
    });
}

namespace {

// The domain change on the open handle; false after a message.
bool removeDomain(sqlite3* db, const char* domain) {
    SqliteStatement stmt;
    return prepare(stmt, db, removeDomainSql) &&
           bound(stmt.bindText(1, domain), db,
                 "Unable to bind parameter domain name '%s' to SQL statement for query '%s': %s",
                 domain, removeDomainSql) &&
           runWrite(stmt, db, "Unable to execute the domain mail authorization removal query: %s");
}

bool changeDomainStatus(sqlite3* db, const char* domain, int status) {
    SqliteStatement stmt;
    return prepare(stmt, db, domainStatusSql) &&
           bound(stmt.bindInt(1, status), db,
                 "Unable to bind parameter status %d to  SQL statement for query '%s': %s", status,
                 domainStatusSql) &&
           bound(stmt.bindText(2, domain), db, domainNameBindMessage, domain, domainStatusSql) &&
           runWrite(stmt, db,
                    "Unable to execute the mail domain authorization status change query: %s");
}

bool changeDomain(sqlite3* db, const char* domain, DomainChange change) {
    switch (change) {
    case DomainChange::Enable:
        return changeDomainStatus(db, domain, 0);
    case DomainChange::Disable:
        // A domain without a mailbox has no row yet; one registered switched
        // off is what keeps a later --add-domain from switching it back on.
        return getDomainId(domain, db, DomainDisabled) >= 0 && changeDomainStatus(db, domain, 1);
    case DomainChange::Remove:
        return removeDomain(db, domain);
    }
    return false;
}

} // namespace

int mailAuthRemoveDomain(const char* domain) {
    return onOneHandle([&](sqlite3* db) { return removeDomain(db, domain); });
}

int setDomainStatus(const char* domain, int status) {
    return onOneHandle([&](sqlite3* db) { return changeDomainStatus(db, domain, status); });
}

int mailAuthChangeDomains(const std::vector<std::string>& domains, DomainChange change,
                          std::size_t& failedAt) {
    if (domains.empty())
        return 0;
    failedAt = 0;
    const int result = inOneTransaction([&](sqlite3* db) {
        for (; failedAt < domains.size(); ++failedAt)
            if (!changeDomain(db, domains[failedAt].c_str(), change))
                return false;
        return true;
    });
    failedAt = std::min(failedAt, domains.size() - 1);
    return result;
}

int mailAuthDomainDisabled(const char* domain) {
    if (::access(mailAuthDB.c_str(), F_OK) != 0 && errno == ENOENT)
        return 0;
    SqliteDatabase db;
    if (!openDatabase(db, READ_ONLY))
        return -1;
    sqlite3_busy_timeout(db.get(), busyTimeoutMs);
    int id = 0;
    int flags = 0;
    const int found = readSourceDomain(db.get(), domain, id, flags);
    SqliteStatement none;
    if (finish(none, db, found) == -1)
        return -1;
    return found == 1 && (flags & DomainDisabled) != 0 ? 1 : 0;
}

int mailAuthEnableDomain(const char* domain) {
    return setDomainStatus(domain, 0);
}

int mailAuthDisableDomain(const char* domain) {
    return setDomainStatus(domain, 1);
}
