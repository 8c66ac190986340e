#include "mysql/Result.h"

#include "utils/Exceptions.h"

namespace korvo::mysql {

std::ostream& operator<<(std::ostream& out, const Field& field) {
    return out << field.value();
}

const Field& Result::row_t::operator[](const std::string& name) const {
    const auto found = fields_.find(name);
    if (found == fields_.end())
        throw mError("No field named " + name + " in result set");
    return found->second;
}

bool Result::row_t::add(const std::string& name, Field field) {
    return fields_.emplace(name, std::move(field)).second;
}

Result::Result(MYSQL_RES* result) : result_(result) {
    const unsigned int count = mysql_num_fields(result);
    const MYSQL_FIELD* const fields = mysql_fetch_fields(result);
    columns_.reserve(count);
    for (unsigned int i = 0; i < count; ++i)
        columns_.emplace_back(fields[i].name, fields[i].name_length);
}

bool Result::fetch(row_t& row) {
    const MYSQL_ROW values = mysql_fetch_row(result_.get());
    if (values == nullptr)
        return false;
    const unsigned long* const lengths = mysql_fetch_lengths(result_.get());
    row.clear();
    for (std::size_t i = 0; i < columns_.size(); ++i) {
        Field field =
            values[i] == nullptr ? Field() : Field(std::string(values[i], lengths[i]), false);
        if (!row.add(columns_[i], std::move(field)))
            throw mError("duplicated field " + columns_[i] + " in query");
    }
    return true;
}

} // namespace korvo::mysql
