#include "setup/AuthDatabaseSetup.h"

#include "mail/auth/MailAuthSchema.h"
#include "utils/Exceptions.h"
#include "utils/FdOwner.h"
#include "utils/ReplaceFile.h"

#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <sqlite3.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace korvo::setup {

namespace {

struct SqliteCloser {
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
using Database = std::unique_ptr<sqlite3, SqliteCloser>;

[[noreturn]] void sqliteFailed(const std::string& what, const std::string& path, sqlite3* db) {
    throw std::runtime_error(what + " " + path + ": " +
                             (db != nullptr ? sqlite3_errmsg(db) : "out of memory"));
}

Database openDatabase(const std::string& path, int flags) {
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(path.c_str(), &raw, flags | SQLITE_OPEN_NOFOLLOW, nullptr);
    Database db(raw);
    if (rc != SQLITE_OK)
        sqliteFailed("cannot open database", path, raw);
    sqlite3_busy_timeout(db.get(), 5000);
    return db;
}

// The alias links in one transaction; an existing link table stays as it is.
void addAliasLinks(const std::string& path) {
    const Database db = openDatabase(path, SQLITE_OPEN_READWRITE);
    const std::string script =
        std::string("BEGIN IMMEDIATE;") + korvo::mail::auth::MAIL_AUTH_ALIAS_LINKS + "COMMIT;";
    if (sqlite3_exec(db.get(), script.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK)
        sqliteFailed("cannot add the domain alias links to", path, db.get());
}

void runSchema(const std::string& path) {
    {
        const Database db = openDatabase(path, SQLITE_OPEN_READWRITE);
        if (sqlite3_exec(db.get(), korvo::mail::auth::MAIL_AUTH_SCHEMA, nullptr, nullptr,
                         nullptr) != SQLITE_OK)
            sqliteFailed("cannot create the schema in", path, db.get());
    }
    addAliasLinks(path);
}

// Names of the tables the database holds.
std::vector<std::string> tableNames(const std::string& path) {
    const Database db = openDatabase(path, SQLITE_OPEN_READONLY);
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db.get(), "SELECT name FROM sqlite_master WHERE type='table'", -1, &raw,
                           nullptr) != SQLITE_OK)
        sqliteFailed("cannot read the schema of", path, db.get());
    const std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> statement(raw, sqlite3_finalize);
    std::vector<std::string> names;
    int rc;
    while ((rc = sqlite3_step(statement.get())) == SQLITE_ROW)
        names.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(raw, 0)));
    if (rc != SQLITE_DONE)
        sqliteFailed("cannot read the schema of", path, db.get());
    return names;
}

bool holdsTable(const std::vector<std::string>& names, const std::string& table) {
    for (const std::string& name : names)
        if (name == table)
            return true;
    return false;
}

// A temporary file beside path that is removed unless it was linked into
// place.
class TemporaryDatabase {
public:
    explicit TemporaryDatabase(const std::string& path) : path_(path + ".setup-XXXXXX") {
        FdOwner fd(::mkstemp(path_.data()));
        if (fd.get() < 0)
            throwSystemError("create a temporary file for " + path);
        fd.close();
    }
    ~TemporaryDatabase() { ::unlink(path_.c_str()); }
    TemporaryDatabase(const TemporaryDatabase&) = delete;
    TemporaryDatabase& operator=(const TemporaryDatabase&) = delete;

    const std::string& path() const { return path_; }

private:
    std::string path_;
};

void createDatabase(const std::string& path, const Ownership& wanted, SetupReport& report) {
    const TemporaryDatabase temporary(path);
    runSchema(temporary.path());
    FdOwner fd(::open(temporary.path().c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (fd.get() < 0)
        throwSystemError("open " + temporary.path());
    if (::fchown(fd.get(), wanted.uid, wanted.gid) != 0)
        throwSystemError("chown " + temporary.path());
    if (::fchmod(fd.get(), wanted.mode) != 0)
        throwSystemError("chmod " + temporary.path());
    if (::fsync(fd.get()) != 0)
        throwSystemError("fsync " + temporary.path());
    fd.close();
    // link, not rename: a database someone created meanwhile stays.
    if (::link(temporary.path().c_str(), path.c_str()) != 0) {
        if (errno == EEXIST)
            return;
        throwSystemError("link " + temporary.path() + " to " + path);
    }
    syncParentDirectory(path);
    report.changed("created authentication database " + path + " (" + describeOwnership(wanted) +
                   ")");
}

} // namespace

void ensureAuthDatabase(const std::string& path, const Ownership& wanted, bool force,
                        SetupReport& report) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) {
        if (errno != ENOENT)
            throwSystemError("lstat " + path);
        createDatabase(path, wanted, report);
        return;
    }
    if (!S_ISREG(st.st_mode))
        throwSystemError(path + " is not a regular file", EINVAL);
    const std::vector<std::string> names = tableNames(path);
    if (names.empty()) {
        runSchema(path);
        report.changed("created the authentication schema in " + path);
    } else if (!holdsTable(names, "domains") || !holdsTable(names, "users")) {
        report.refused(path + " holds tables other than the authentication schema");
        return;
    } else if (!holdsTable(names, "domain_aliases")) {
        addAliasLinks(path);
        report.changed("added the domain alias links to " + path);
    }
    const FdOwner fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (fd.get() < 0)
        throwSystemError("open " + path);
    checkOwnership(fd.get(), path, wanted, force, report);
}

} // namespace korvo::setup
