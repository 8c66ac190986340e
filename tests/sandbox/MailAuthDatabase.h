// The mail authentication database (SQLite), made as the panel's installer
// makes it (tests/sql/mail-auth-schema.sql, postfix:root, 0770 and 0460) and
// read back through the sqlite3 client, never through the code under test.
#ifndef KORVO_TESTS_MAILAUTHDATABASE_H
#define KORVO_TESTS_MAILAUTHDATABASE_H

#include "sandbox/Sandbox.h"

#include <string>

namespace korvo::test {

extern const char* const mailAuthPath;

// Replaces mailAuthPath with an empty database and selects style 1 for it.
void createMailAuthDatabase();

// Rows as lines, columns joined by "|", NULL as "NULL"; throws on failure.
std::string authSql(const std::string& sql);

// "mailname@domain|password|encPassword|userDisabled|domainDisabled" lines,
// by domain and mailname.
std::string authUsers();

class MailAuthDatabaseTest : public SandboxTest {
protected:
    void SetUp() override;
};

} // namespace korvo::test

#endif
