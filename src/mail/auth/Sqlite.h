// Short-lived SQLite handles for the mail authentication database, with
// the retry rules its writers share.
//
// The database is shared with the mail services and other runs of the
// tool. Preparing a statement while the file is busy, stepping it while the
// file is busy or locked, and closing a busy handle are retried without
// limit; between attempts the wait grows by 10 microseconds (0, 10, 20 ...).
// A wait cut short by a signal ends the operation: the call reports
// Interrupted and the caller gives up with -1.
//
// SqliteDatabase owns one open handle, SqliteStatement one prepared
// statement; both release it in their destructors, so a statement must be
// destroyed (or finalized) before its database is closed. Nothing here logs
// or raises: callers read the codes and sqlite3_errmsg(db.get()) and write
// their own messages.
#ifndef KORVO_MAIL_AUTH_SQLITE_H
#define KORVO_MAIL_AUTH_SQLITE_H

#include <sqlite3.h>
#include <string>

namespace korvo::mail::auth {

// Result of a retried call whose wait was interrupted; no SQLite code is
// negative.
constexpr int Interrupted = -1;

// The growing pause between two attempts of one retry loop.
class RetryWait {
public:
    // Sleeps, then lengthens the next sleep; false when a signal cut it short.
    bool pause();

private:
    unsigned int micros_ = 0;
};

class SqliteDatabase {
public:
    SqliteDatabase() = default;
    SqliteDatabase(const SqliteDatabase&) = delete;
    SqliteDatabase& operator=(const SqliteDatabase&) = delete;
    ~SqliteDatabase();

    // sqlite3_open_v2 with flags (no file is ever created here). On failure
    // get() may still hold a handle that carries the error text.
    int open(const std::string& path, int flags);
    sqlite3* get() const { return db_; }
    // SQLite's text of the last error, or "general DB errror" without a handle.
    const char* errorText() const;
    // Closes, retrying while the handle is busy; SQLITE_OK or Interrupted.
    int close();

private:
    sqlite3* db_ = nullptr;
};

class SqliteStatement {
public:
    SqliteStatement() = default;
    SqliteStatement(const SqliteStatement&) = delete;
    SqliteStatement& operator=(const SqliteStatement&) = delete;
    ~SqliteStatement();

    // Prepares sql on db, retrying while busy; SQLite's code or Interrupted.
    int prepare(sqlite3* db, const char* sql);
    sqlite3_stmt* get() const { return stmt_; }
    // Binds text up to its NUL (null binds NULL) or an integer, 1-based.
    int bindText(int index, const char* text);
    int bindInt(int index, int value);
    // One step, reset and retried while busy or locked; SQLite's code
    // (SQLITE_ROW, SQLITE_DONE, an error) or Interrupted.
    int step();
    void finalize();

private:
    sqlite3_stmt* stmt_ = nullptr;
};

} // namespace korvo::mail::auth

#endif
