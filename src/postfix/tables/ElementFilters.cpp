#include "postfix/tables/ElementFilters.h"

#include <cctype>
#include <iostream>

namespace korvo::mail::postfix::database {

bool isListSep(char c) {
    return c == ',' || std::isspace(static_cast<unsigned char>(c)) != 0;
}

void reportInvalidLine(const std::string& line) {
    std::clog << "invalid key/value '" << line << "'" << std::endl;
}

bool splitRecordLine(const std::string& line, std::string& key, std::string& value) {
    static const char blanks[] = " \t";
    const std::string::size_type keyEnd = line.find_first_of(blanks);
    if (keyEnd == std::string::npos) {
        reportInvalidLine(line);
        return false;
    }
    const std::string::size_type valueBegin = line.find_first_not_of(blanks, keyEnd);
    if (valueBegin == std::string::npos) {
        return false;
    }
    const std::string::size_type valueEnd = line.find_last_not_of(blanks);
    key.assign(line, 0, keyEnd);
    value.assign(line, valueBegin, valueEnd + 1 - valueBegin);
    return true;
}

} // namespace korvo::mail::postfix::database
