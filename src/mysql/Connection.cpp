#include "mysql/Connection.h"

#include "mysql/Error.h"

#include <cstdio>
#include <cstring>

namespace korvo::mysql {

Connection::Connection(bool connectNow) {
    if (connectNow)
        open();
}

void Connection::open() {
    if (handle_)
        return;
    handle_.reset(db_connect());
    if (!handle_)
        throw mError("connection failed");
}

std::string Connection::escape(const char* text, std::size_t length) {
    open();
    if (length == 0)
        length = std::strlen(text);
    std::string escaped(2 * length + 1, '\0');
    escaped.resize(mysql_real_escape_string(handle_.get(), escaped.data(), text, length));
    return escaped;
}

std::string Connection::escape_name(const char* text, std::size_t length) {
    if (length == 0)
        length = std::strlen(text);
    std::string escaped;
    escaped.reserve(length);
    for (std::size_t i = 0; i < length; ++i) {
        escaped += text[i];
        if (text[i] == '`')
            escaped += '`';
    }
    return escaped;
}

Connection& Connection::operator<<(Insert mode) {
    mode_ = mode;
    return *this;
}

Connection& Connection::operator<<(const char* text) {
    const Insert mode = mode_;
    mode_ = Insert::Verbatim;
    if (text == nullptr)
        query_.setstate(std::ios::badbit);
    else if (mode == Insert::Value)
        query_ << escape(text);
    else if (mode == Insert::Name)
        query_ << escape_name(text);
    else
        query_ << text;
    return *this;
}

Connection& Connection::operator<<(int number) {
    char text[16];
    std::snprintf(text, sizeof text, "%d", number);
    return *this << static_cast<const char*>(text);
}

Connection& Connection::operator<<(double number) {
    char text[512];
    std::snprintf(text, sizeof text, "%f", number);
    return *this << static_cast<const char*>(text);
}

void Connection::run() {
    const bool complete = !query_.fail();
    const std::string text = query_.str();
    query_.str(std::string());
    query_.clear();
    mode_ = Insert::Verbatim;
    // A null string leaves a gap in the text; running what is left could
    // match far more rows than meant.
    if (!complete)
        throw mError("a null string was put into the query; not running: " + text);
    open();
    if (mysql_real_query(handle_.get(), text.data(), text.size()) != 0)
        throw fromHandle(handle_.get(), " executing query");
}

void Connection::operator<<(Query::exec_t) {
    run();
}

Result Connection::operator<<(Query::fetch_t) {
    run();
    MYSQL_RES* const stored = mysql_store_result(handle_.get());
    if (stored == nullptr)
        throw fromHandle(handle_.get(), " fetching result");
    return Result(stored);
}

} // namespace korvo::mysql
