// The class layer's errors built from a MySQL handle.
//
// Every failure of the class layer is a korvo::mysql::mError (declared with
// the other exception classes in utils/Exceptions.h). fromHandle builds one
// from the handle's last error: "Mysql error NUMBER: TEXT\nSUFFIX", or
// "Unknown error\nSUFFIX" when the handle reports no error (or is null).
#ifndef KORVO_MYSQL_ERROR_H
#define KORVO_MYSQL_ERROR_H

#include "utils/Exceptions.h"

#include <mysql.h>
#include <string>

namespace korvo::mysql {

mError fromHandle(MYSQL* handle, const std::string& suffix);

} // namespace korvo::mysql

#endif
