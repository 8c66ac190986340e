#include "mail/auth/MailAuthDB.h"

namespace {
const char* const styleZeroPath = "/var/lib/korvo/mail/auth/passwd.db";
const char* const styleOnePath = "/var/spool/postfix/korvo/passwd.db";
} // namespace

std::string mailAuthDB = styleZeroPath;

void mailAuthDBSelectStyle(int style) {
    if (style == 0)
        mailAuthDB = styleZeroPath;
    else if (style == 1)
        mailAuthDB = styleOnePath;
}
