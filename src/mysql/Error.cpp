#include "mysql/Error.h"

namespace korvo::mysql {

mError fromHandle(MYSQL* handle, const std::string& suffix) {
    const unsigned int number = handle != nullptr ? mysql_errno(handle) : 0;
    if (number == 0)
        return mError("Unknown error\n" + suffix);
    return mError("Mysql error " + std::to_string(number) + ": " + mysql_error(handle) + "\n" +
                  suffix);
}

} // namespace korvo::mysql
