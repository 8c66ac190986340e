// Test data of the master.cf tests, and whole-file reads and writes for
// comparing files byte for byte.
#ifndef KORVO_TESTS_POSTFIX_MASTERCFTESTDATA_H
#define KORVO_TESTS_POSTFIX_MASTERCFTESTDATA_H

#include <fstream>
#include <sstream>
#include <string>

namespace korvo::test {

// The file's bytes; empty when it cannot be read.
inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline void writeFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// A file of tests/data.
inline std::string testData(const std::string& name) {
    return readFile(VORNCTL_TEST_DATA_DIR "/" + name);
}

// The submission entry of tests/data/master.cf.realworld, as an
// administrator wrote it: continuation lines, a comment line and a trailing
// comment inside it, a tab and a carriage return.
inline const std::string realWorldSubmission =
    "submission inet n       -       y       -       -       smtpd\n"
    "  -o syslog_name=postfix/submission\n"
    "#  -o smtpd_tls_security_level=encrypt\n"
    "\t-o smtpd_sasl_auth_enable=yes\t# added for the mail clients\n"
    "  -o smtpd_client_restrictions=permit_sasl_authenticated,reject   \r";

} // namespace korvo::test

#endif
