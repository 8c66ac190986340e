#include "mail/auth/Sqlite.h"

#include <cerrno>
#include <ctime>

namespace korvo::mail::auth {

bool RetryWait::pause() {
    const struct timespec wait = {0, static_cast<long>(micros_) * 1000};
    micros_ += 10;
    return ::nanosleep(&wait, nullptr) == 0;
}

SqliteDatabase::~SqliteDatabase() {
    // close_v2 never reports busy: it defers the close until the last
    // statement is gone.
    if (db_ != nullptr)
        sqlite3_close_v2(db_);
}

int SqliteDatabase::open(const std::string& path, int flags) {
    return sqlite3_open_v2(path.c_str(), &db_, flags, nullptr);
}

const char* SqliteDatabase::errorText() const {
    return db_ != nullptr ? sqlite3_errmsg(db_) : "general DB errror";
}

int SqliteDatabase::close() {
    RetryWait wait;
    int rc;
    while ((rc = sqlite3_close(db_)) == SQLITE_BUSY)
        if (!wait.pause())
            return Interrupted;
    db_ = nullptr;
    return rc;
}

SqliteStatement::~SqliteStatement() {
    finalize();
}

int SqliteStatement::prepare(sqlite3* db, const char* sql) {
    RetryWait wait;
    int rc;
    while ((rc = sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr)) == SQLITE_BUSY)
        if (!wait.pause())
            return Interrupted;
    return rc;
}

int SqliteStatement::bindText(int index, const char* text) {
    return sqlite3_bind_text(stmt_, index, text, -1, SQLITE_STATIC);
}

int SqliteStatement::bindInt(int index, int value) {
    return sqlite3_bind_int(stmt_, index, value);
}

int SqliteStatement::step() {
    RetryWait wait;
    int rc;
    while ((rc = sqlite3_step(stmt_)) == SQLITE_BUSY || rc == SQLITE_LOCKED) {
        sqlite3_reset(stmt_);
        if (!wait.pause())
            return Interrupted;
    }
    return rc;
}

void SqliteStatement::finalize() {
    if (stmt_ != nullptr)
        sqlite3_finalize(stmt_);
    stmt_ = nullptr;
}

} // namespace korvo::mail::auth
