// A damaged /etc/orq/orq.conf must cost only its bad lines; every lookup
// still gives the file's value or the default.
#include "utils/OrqConf.h"
#include "sandbox/CapturedOutput.h"
#include "sandbox/Sandbox.h"
#include "utils/EnvPassword.h"

#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <string>

namespace {

using OrqConfTest = korvo::test::SandboxTest;

TEST_F(OrqConfTest, MalformedLinesCostOnlyThemselvesTablesGrowAndPasswordsLeaveTheEnvironment) {
    EXPECT_STREQ(orqConfGetDefaultByIndex(KORVO_MAILNAMES_D), "/var/qmail/mailnames");
    EXPECT_EQ(orqConfGet("NO_RESTART_DAEMON"), nullptr);

    const std::string longValue(10000, 'v');
    std::ofstream(ORQ_CONF_PATH)
        << "# a comment\n\n   \t\n  KORVO_MAILNAMES_D   /srv/mail   # where mail lives\n"
           "COURIER_IMAP_ROOT_D=/opt/courier\nPRODUCT_ROOT_D # no value\n"
           "   # indented comment\nkorvo_mailnames_d /lower/case\nDUMP_D /first\n"
           "DUMP_D\t/var/my dumps \r\n-BROKEN value\nNO_RESTART_DAEMON yes\n"
           "DUMP_TMP_D /scratch\nMYSQL_VAR_D "
        << longValue;
    EXPECT_STREQ(orqConfGetDefaultByIndex(KORVO_MAILNAMES_D), "/srv/mail");
    EXPECT_STREQ(orqConfGetDefaultByIndex(COURIER_IMAP_ROOT_D), "/");
    EXPECT_STREQ(orqConfGetDefaultByIndex(PRODUCT_ROOT_D), "/usr/local/orq");
    EXPECT_STREQ(orqConfGetDefaultByIndex(DUMP_D), "/var/my dumps");
    EXPECT_EQ(orqConfGetDefaultByIndex(MYSQL_VAR_D), longValue);
    EXPECT_STREQ(orqConfGetDefaultByIndex(DUMP_TMP_D), "/scratch");
    EXPECT_STREQ(orqConfGet("korvo_mailnames_d"), "/lower/case");
    EXPECT_STREQ(orqConfGet("NO_RESTART_DAEMON"), "yes");

    // A private table grows past its first size, and rejected lines print nothing.
    conf_data* const conf = static_cast<conf_data*>(std::calloc(1, sizeof(conf_data)));
    for (int i = 99; i >= 0; --i)
        ASSERT_EQ(conf_set_r(("KEY_" + std::to_string(i)).c_str(), "old", conf), 0);
    ASSERT_EQ(conf_set_r("KEY_7", "new", conf), 0);
    EXPECT_EQ(conf->nmemb, 100u);
    conf_finalize_r(conf);
    for (int i = 0; i < 100; ++i)
        EXPECT_STREQ(conf_get_r(("KEY_" + std::to_string(i)).c_str(), conf),
                     i == 7 ? "new" : "old");
    EXPECT_EQ(conf_get_r("KEY_100", conf), nullptr);

    std::ofstream(ORQ_CONF_PATH) << "A=1\nB\t# c\nC value\n";
    korvo::test::CapturedStdout capturedStdout;
    ASSERT_EQ(conf_read_file_r(ORQ_CONF_PATH, conf), 0);
    EXPECT_EQ(capturedStdout.text(), "");
    EXPECT_EQ(conf_read_file_r("/etc/orq/absent.conf", conf), -1);
    EXPECT_STREQ(conf_get_r("C", conf), "value");
    conf_free_r(conf);

    // An empty plain password falls back to the crypted one, which leaves the environment
    setenv("ORQ_PASSWORD", "", 1);
    setenv("ORQ_CRYPTED_PASSWORD", "$1$salt$hash", 1);
    const char* password = nullptr;
    int crypted = -1;
    ASSERT_EQ(get_env_password(&password, &crypted), 0);
    EXPECT_STREQ(password, "$1$salt$hash");
    EXPECT_EQ(crypted, 1);
    EXPECT_EQ(std::getenv("ORQ_CRYPTED_PASSWORD"), nullptr);
}

} // namespace
