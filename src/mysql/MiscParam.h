// Boolean panel settings from the "misc" table of the panel database.
//
// getBoolMiscParamSafe(name, connection) is true only when the setting
// exists and its value is exactly "true" (letter case counts). It never
// raises: a failed query is written to korvo::uerr as "Warning: MySQL Error
// on Mail Authentication Type query: TEXT, ignored" and counts as false.
#ifndef KORVO_MYSQL_MISCPARAM_H
#define KORVO_MYSQL_MISCPARAM_H

#include "mysql/Connection.h"

#include <string>

namespace korvo::mail::restore {

bool getBoolMiscParamSafe(const std::string& name, korvo::mysql::Connection& connection);

} // namespace korvo::mail::restore

#endif
