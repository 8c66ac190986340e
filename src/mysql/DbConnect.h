// The function layer's connection to the panel database.
//
// Connections always go to the database "orq" on "localhost" (the default
// socket) as user "admin"; the password is the first line of
// /etc/orq/.orq.shadow and is never kept in the program. A server that does
// not greet within 10 seconds counts as unreachable. Each function
// returns an open MySQL handle or null, with the reason written into errbuf
// (at most size bytes, always NUL-terminated). Nothing here raises.
//
//   korvo_db_connect_raw_ex  reads the password file and connects;
//   korvo_db_connect_raw     the same, refusing a handle that reports an error;
//   korvo_db_connect_ex      raw connection plus the session set-up: foreign
//                            key checks off, then SET NAMES utf8 or binary
//                            chosen from the server version and the panel
//                            setting "mysql41_compatible"; a failed step is
//                            reported in errbuf but the handle is returned;
//   korvo_db_connect         korvo_db_connect_ex, closing a handle whose last
//                            step failed with a server error;
//   db_connect_nothrow       korvo_db_connect;
//   db_connect               db_connect_nothrow, printing the reason through
//                            messlog2 (no exit) when it fails.
//
// Close every handle with mysql_close, or hold it in a MysqlHandle.
#ifndef KORVO_MYSQL_DBCONNECT_H
#define KORVO_MYSQL_DBCONNECT_H

#include "mysql/Handles.h"

#include <cstddef>
#include <memory>
#include <mysql.h>

// -1 until a session has been set up; then 1 when it runs with
// "SET NAMES utf8", 0 otherwise.
extern int _mysql41_compatible;

MYSQL* korvo_db_connect_raw_ex(char* errbuf, std::size_t size);
MYSQL* korvo_db_connect_raw(char* errbuf, std::size_t size);
MYSQL* korvo_db_connect_ex(char* errbuf, std::size_t size);
MYSQL* korvo_db_connect(char* errbuf, std::size_t size);
MYSQL* db_connect_nothrow(char* errbuf, std::size_t size);
MYSQL* db_connect();

int korvo_db_mysql41_compatible_raw();
// The flag; when no session has been set up yet, connects once (and closes
// the connection again) to learn it.
int db_is_mysql41_compatible();

// Writes "DB error (STEP) NUMBER: TEXT" for the handle's last error, or
// "DB error (STEP): unknown error" when it reports none.
void set_db_errmsg(MYSQL* handle, char* errbuf, std::size_t size, const char* step);

namespace korvo::mysql {

// One panel connection for all the lookups of a run. While a SharedConnection
// exists, a GivenOrOwnHandle made without the caller's connection uses the
// shared one instead of opening its own; it is opened at the first such use
// and closed with this object. An open that fails is not kept: the next use
// tries again and, like db_connect, prints why. Scopes nest; the innermost
// one serves. Single-threaded, like the tool.
class SharedConnection {
public:
    SharedConnection();
    ~SharedConnection();
    SharedConnection(const SharedConnection&) = delete;
    SharedConnection& operator=(const SharedConnection&) = delete;

    // The innermost scope's connection, opened now when needed; null when
    // no scope exists or the open failed.
    static MYSQL* current();

private:
    MysqlHandle handle_;
    SharedConnection* const outer_;
};

// The caller's connection when it gave one, else the SharedConnection's,
// else one opened here with db_connect() (which prints why it failed) and
// closed with this object. get() is null when no connection could be opened.
class GivenOrOwnHandle {
public:
    explicit GivenOrOwnHandle(MYSQL* given);
    MYSQL* get() const { return inUse_; }

private:
    MysqlHandle own_;
    MYSQL* inUse_;
};

} // namespace korvo::mysql

#endif
