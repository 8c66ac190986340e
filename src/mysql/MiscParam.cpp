#include "mysql/MiscParam.h"

#include "utils/ErrorStream.h"

#include <exception>

namespace korvo::mail::restore {

bool getBoolMiscParamSafe(const std::string& name, korvo::mysql::Connection& connection) {
    using korvo::mysql::Insert;
    using korvo::mysql::Query;
    try {
        connection << "SELECT    val  FROM misc    WHERE param='" << Insert::Value << name << "'";
        korvo::mysql::Result result = connection << Query::fetch;
        korvo::mysql::Result::row_t row;
        return result.fetch(row) && row["val"].value() == "true";
    } catch (const std::exception& e) {
        korvo::uerr << "Warning: MySQL Error on Mail Authentication Type query: " << e.what()
                    << ", ignored" << std::endl;
        return false;
    }
}

} // namespace korvo::mail::restore
