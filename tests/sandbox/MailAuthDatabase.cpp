#include "sandbox/MailAuthDatabase.h"

#include "mail/auth/MailAuthDB.h"
#include "sandbox/CommandRunner.h"
#include "sandbox/TestFiles.h"

#include <stdexcept>
#include <unistd.h>

namespace korvo::test {

const char* const mailAuthPath = "/var/spool/postfix/korvo/passwd.db";

void createMailAuthDatabase() {
    const std::string dir = "/var/spool/postfix/korvo";
    if (shell("mkdir -p " + dir) != 0)
        throw std::runtime_error("cannot make " + dir);
    ::unlink(mailAuthPath);
    const CommandResult created = runCommand({"/usr/bin/sqlite3", "-batch", mailAuthPath}, {},
                                             readFile(sandboxFile("../sql/mail-auth-schema.sql")));
    if (created.status != 0 || !created.err.empty())
        throw std::runtime_error("cannot create the mail authentication database: " + created.err);
    if (shell("chown postfix:root " + dir + " " + mailAuthPath + " && chmod 0770 " + dir +
              " && chmod 0460 " + mailAuthPath) != 0)
        throw std::runtime_error("cannot set owner and mode of " + dir + " and " + mailAuthPath);
    mailAuthDBSelectStyle(1);
}

std::string authSql(const std::string& sql) {
    const CommandResult result =
        runCommand({"/usr/bin/sqlite3", "-batch", "-noheader", "-separator", "|", "-nullvalue",
                    "NULL", mailAuthPath, sql});
    if (result.status != 0 || !result.err.empty())
        throw std::runtime_error("sqlite3 failed on \"" + sql + "\": " + result.err);
    return result.out;
}

std::string authUsers() {
    return authSql("SELECT u.name || '@' || d.name as mailAddress, u.userPassword AS password, "
                   "u.cmusaslsecretPLAIN AS encPassword, u.status AS userDisabled, d.status AS "
                   "domainDisabled FROM users AS u, domains AS d WHERE u.dom_id = d.id ORDER BY "
                   "d.name, u.name");
}

void MailAuthDatabaseTest::SetUp() {
    SandboxTest::SetUp();
    createMailAuthDatabase();
}

} // namespace korvo::test
