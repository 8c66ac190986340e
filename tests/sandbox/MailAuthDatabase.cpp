#include "sandbox/MailAuthDatabase.h"

#include "mail/auth/MailAuthDB.h"
#include "sandbox/CommandRunner.h"
#include "sandbox/TestFiles.h"

#include <cerrno>
#include <cstring>
#include <pwd.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace korvo::test {

const char* const mailAuthPath = "/var/spool/postfix/korvo/passwd.db";

namespace {

const char* const mailAuthDir = "/var/spool/postfix/korvo";

void own(const char* path, uid_t uid, mode_t mode) {
    if (::chown(path, uid, 0) != 0 || ::chmod(path, mode) != 0)
        throw std::runtime_error(std::string("cannot set owner and mode of ") + path + ": " +
                                 std::strerror(errno));
}

} // namespace

void createMailAuthDatabase() {
    const struct passwd* const postfix = ::getpwnam("postfix");
    if (postfix == nullptr)
        throw std::runtime_error("no postfix account");
    ::mkdir(mailAuthDir, 0770);
    ::unlink(mailAuthPath);
    const CommandResult created = runCommand({"/usr/bin/sqlite3", "-batch", mailAuthPath}, {},
                                             readFile(sandboxFile("../sql/mail-auth-schema.sql")));
    if (created.status != 0 || !created.err.empty())
        throw std::runtime_error("cannot create the mail authentication database: " + created.err);
    own(mailAuthDir, postfix->pw_uid, 0770);
    own(mailAuthPath, postfix->pw_uid, 0460);
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
    if (HasFatalFailure())
        return;
    createMailAuthDatabase();
}

} // namespace korvo::test
