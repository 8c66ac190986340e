#ifndef KORVO_TESTS_POSTFIX_MASTERCFTESTDATA_H
#define KORVO_TESTS_POSTFIX_MASTERCFTESTDATA_H

#include "sandbox/TestFiles.h"

#include <string>

namespace korvo::test {

// The submission entry of tests/data/master.cf.realworld: continuations,
// inner comments, a tab and a carriage return.
inline const std::string realWorldSubmission =
    "submission inet n       -       y       -       -       smtpd\n"
    "  -o syslog_name=postfix/submission\n"
    "#  -o smtpd_tls_security_level=encrypt\n"
    "\t-o smtpd_sasl_auth_enable=yes\t# added for the mail clients\n"
    "  -o smtpd_client_restrictions=permit_sasl_authenticated,reject   \r";

} // namespace korvo::test

#endif
