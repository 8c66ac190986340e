#include "setup/TableSetup.h"

#include "postfix/tables/DatabaseHelper.h"
#include "postfix/tables/Tables.h"
#include "utils/Exceptions.h"

#include <cerrno>
#include <sys/stat.h>
#include <vector>

namespace korvo::setup {

namespace tables = mail::postfix::tables;

namespace {

const char* const hashTables[] = {tables::VIRTUAL_DOMAINS, tables::VMAILBOX,   tables::VIRTUAL,
                                  tables::ALIASES,         tables::BLACKLISTS, tables::POPLOCK};

bool databaseExists(const std::string& table) {
    const std::string path = tables::sourcePath(table) + ".db";
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0)
        return true;
    if (errno != ENOENT)
        throwSystemError("lstat " + path);
    return false;
}

} // namespace

void ensureTables(const Ownership& pcreFile, bool force, SetupReport& report) {
    const std::vector<mail::postfix::DatabaseHelper::Record> none;
    for (const char* table : hashTables) {
        if (databaseExists(table))
            continue;
        mail::postfix::DatabaseHelper::replaceRecords(table, none.begin(), none.end());
        report.changed(std::string("created empty table ") + table);
    }
    ensureFile(tables::sourcePath(tables::NO_RELAY), pcreFile, force, report);
}

} // namespace korvo::setup
