// A stored result set of the panel database and its rows of named fields.
//
// Result owns the client library's result (freed by the destructor) and the
// names of its columns. fetch(row) fills row with the next row, one Field per
// column keyed by the column name, and returns false after the last row.
// Failures raise korvo::mysql::mError: two columns of one name ("duplicated
// field NAME in query"), or asking a row for a column it lacks ("No field
// named NAME in result set").
//
// Use:
//   Result result = connection << "SELECT id, name FROM domains" << Query::fetch;
//   Result::row_t row;
//   while (result.fetch(row))
//       long id = boost::lexical_cast<long>(row["id"]);
#ifndef KORVO_MYSQL_RESULT_H
#define KORVO_MYSQL_RESULT_H

#include "mysql/Handles.h"

#include <map>
#include <memory>
#include <mysql.h>
#include <ostream>
#include <string>
#include <vector>

namespace korvo::mysql {

// One column's value: its text, and whether it was SQL NULL (then the text
// is empty). Streams as its text, so boost::lexical_cast converts it to
// long, unsigned int, int or short.
class Field {
public:
    Field() = default;
    Field(std::string value, bool null) : value_(std::move(value)), null_(null) {}
    const std::string& value() const { return value_; }
    bool isNull() const { return null_; }

private:
    std::string value_;
    bool null_ = true;
};

std::ostream& operator<<(std::ostream& out, const Field& field);

class Result {
public:
    class row_t {
    public:
        const Field& operator[](const std::string& name) const;
        std::size_t size() const { return fields_.size(); }
        void clear() { fields_.clear(); }
        // False when the row already has a field of that name.
        bool add(const std::string& name, Field field);

    private:
        std::map<std::string, Field> fields_;
    };

    // Takes ownership of a stored result (mysql_store_result).
    explicit Result(MYSQL_RES* result);

    bool fetch(row_t& row);
    const std::vector<std::string>& columns() const { return columns_; }

private:
    StoredResult result_;
    std::vector<std::string> columns_;
};

} // namespace korvo::mysql

#endif
