// One connection to the panel database with a stream-style query builder.
//
// Connection owns the MySQL handle (opened with db_connect(), so the session
// is set up the same way as in the function layer; closed by the
// destructor) and the text of the query being built. Strings streamed in
// are appended according to the insertion mode, which applies to the next
// string only and then falls back to Insert::Verbatim:
//   Insert::Value     escaped for a quoted string (mysql_real_escape_string),
//   Insert::Name      backquotes doubled, for a quoted identifier,
//   Insert::Verbatim  as it is.
// Streaming Query::exec runs the text built so far; Query::fetch runs it
// and returns its stored Result. Either empties the builder.
//
// Every failure raises korvo::mysql::mError: "connection failed" when no
// connection can be opened, "Mysql error N: TEXT\n executing query" or
// "...\n fetching result" from the server, and a refusal to run a text into
// which a null string was streamed.
//
// Use:
//   Connection db(true);
//   db << "SELECT val FROM misc WHERE param='" << Insert::Value << name << "'";
//   Result result = db << Query::fetch;
#ifndef KORVO_MYSQL_CONNECTION_H
#define KORVO_MYSQL_CONNECTION_H

#include "mysql/DbConnect.h"
#include "mysql/Result.h"
#include "utils/Exceptions.h"

#include <cstddef>
#include <sstream>
#include <string>

namespace korvo::mysql {

struct Query {
    struct exec_t {};
    struct fetch_t {};
    static constexpr exec_t exec{};
    static constexpr fetch_t fetch{};
};

enum class Insert { Value = 0, Name = 1, Verbatim = 2 };

class Connection {
public:
    // With connectNow, connects at once (mError "connection failed").
    explicit Connection(bool connectNow = true);
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Connects unless already connected; mError "connection failed".
    void open();
    bool isOpen() const { return static_cast<bool>(handle_); }
    // The open handle, for the function layer's queries; null before open().
    MYSQL* handle() const { return handle_.get(); }

    // Value escaping of the connection's character set (length 0: up to the
    // NUL); connects first when needed. std::bad_alloc without memory.
    std::string escape(const char* text, std::size_t length = 0);
    // Doubles every backquote (length 0: up to the NUL).
    static std::string escape_name(const char* text, std::size_t length = 0);

    Connection& operator<<(Insert mode);
    Connection& operator<<(const char* text);
    Connection& operator<<(const std::string& text) { return *this << text.c_str(); }
    Connection& operator<<(int number);
    Connection& operator<<(double number);
    void operator<<(Query::exec_t);
    Result operator<<(Query::fetch_t);

private:
    // Takes the built text and runs it; mError with the suffix " executing
    // query" on failure.
    void run();

    MysqlHandle handle_;
    std::ostringstream query_;
    Insert mode_ = Insert::Verbatim;
};

} // namespace korvo::mysql

#endif
