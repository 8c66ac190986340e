// Owners of the MariaDB client library's handles: a connection and a stored
// result set, each closed or freed on every path out of its scope. Closing
// cannot fail in a way a caller could act on, so nothing is reported.
#ifndef KORVO_MYSQL_HANDLES_H
#define KORVO_MYSQL_HANDLES_H

#include <memory>
#include <mysql.h>

namespace korvo::mysql {

struct MysqlCloser {
    void operator()(MYSQL* handle) const { mysql_close(handle); }
};
using MysqlHandle = std::unique_ptr<MYSQL, MysqlCloser>;

struct ResultFreer {
    void operator()(MYSQL_RES* result) const { mysql_free_result(result); }
};
// A result of mysql_store_result.
using StoredResult = std::unique_ptr<MYSQL_RES, ResultFreer>;

} // namespace korvo::mysql

#endif
