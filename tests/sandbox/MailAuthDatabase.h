// The mail authentication database (SQLite) for tests.
//
// The tool never creates this file: the panel's installer does, with the
// schema script in tests/sql/mail-auth-schema.sql, and hands the directory
// and the file to postfix (group root, modes 0770 and 0460).
// createMailAuthDatabase does the same with the real sqlite3 client and
// selects style 1, so mailAuthDB names the new file. authSql reads state
// back through the sqlite3 client, never through the code under test.
#ifndef KORVO_TESTS_MAILAUTHDATABASE_H
#define KORVO_TESTS_MAILAUTHDATABASE_H

#include "sandbox/Sandbox.h"

#include <string>

namespace korvo::test {

extern const char* const mailAuthPath;

// Creates an empty database at mailAuthPath (replacing any file there).
void createMailAuthDatabase();

// Runs SQL on the database through the sqlite3 client. Returns the rows,
// columns separated by "|", one line per row, NULL as "NULL"; throws with
// the client's message when it fails.
std::string authSql(const std::string& sql);

// Every user as the authenticating services read them, one line each:
// "mailname@domain|password|encPassword|userDisabled|domainDisabled",
// ordered by domain and mailname.
std::string authUsers();

class MailAuthDatabaseTest : public SandboxTest {
protected:
    void SetUp() override;
};

} // namespace korvo::test

#endif
