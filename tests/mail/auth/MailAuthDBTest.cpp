// Every authentication lookup opens the file named here; a wrong style
// would make POP3/IMAP logins read another database.
#include "mail/auth/MailAuthDB.h"

#include <gtest/gtest.h>

namespace {

TEST(MailAuthDBTest, OnlyKnownStylesMoveTheDatabase) {
    EXPECT_EQ(mailAuthDB, "/var/lib/korvo/mail/auth/passwd.db");
    mailAuthDBSelectStyle(1);
    EXPECT_EQ(mailAuthDB, "/var/spool/postfix/korvo/passwd.db");
    mailAuthDBSelectStyle(2);
    mailAuthDBSelectStyle(-1);
    EXPECT_EQ(mailAuthDB, "/var/spool/postfix/korvo/passwd.db");
    mailAuthDBSelectStyle(0);
    EXPECT_EQ(mailAuthDB, "/var/lib/korvo/mail/auth/passwd.db");
}

} // namespace
