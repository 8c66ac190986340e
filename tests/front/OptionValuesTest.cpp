// Option values as each use needs them: any single address as a target, a
// removal that still reaches a legacy mailname, and a handler check that
// answers "not found" for a value it refuses.
#include "CommandFixture.h"
#include "postfix/managers/ManagerFixture.h"
#include "postfix/tables/Tables.h"
#include "sandbox/MailAuthDatabase.h"

namespace korvo::test {
namespace {

namespace tables = korvo::mail::postfix::tables;

const std::string inExample = "--domain-name=example.com";
const std::string home = "/var/qmail/mailnames/example.com/info";

class OptionValuesTest : public ManagerTest {
protected:
    void SetUp() override {
        ManagerTest::SetUp();
        createMailAuthDatabase();
        serveDomain("example.com");
        serveMailname("example.com", "info");
    }
};

TEST_F(OptionValuesTest, AnyValidSingleAddressIsATarget) {
    const std::vector<std::string> targets = {"o'brien@other.org", "first/last@example.org",
                                              "a+b@example.org"};
    for (const std::string& target : targets)
        ok({"--add-redirect", inExample, "--mailname=info", "--redirect-email=" + target});
    EXPECT_EQ(readFile(home + "/.qmail"),
              "| true\n&o'brien@other.org\n&first/last@example.org\n&a+b@example.org\n");
    ok({"--set-catchall", inExample, "--email=o'brien@other.org"});
    EXPECT_EQ(dump(tables::VIRTUAL).at("@example.com"), "o'brien@other.org");
}

// A mailname made under older rules can still be removed.
TEST_F(OptionValuesTest, RemovalReachesAMailnameMadeUnderOlderRules) {
    const std::string legacy(65, 'l');
    ASSERT_EQ(shell("mkdir -p /var/qmail/mailnames/example.com/" + legacy + "/Maildir"), 0);
    fillTable(tables::VMAILBOX, legacy + "@example.com example.com/" + legacy + "/Maildir/\n");
    ok({"--remove-mailname", inExample, "--mailname=" + legacy});
    EXPECT_EQ(dump(tables::VMAILBOX).count(legacy + "@example.com"), 0u);
    EXPECT_FALSE(isDirectory("/var/qmail/mailnames/example.com/" + legacy));
}

// The panel reads status 1 as "the handler exists".
TEST_F(OptionValuesTest, ARefusedHandlerValueIsNotFound) {
    const CommandResult result =
        runVornctl({"--check-handler", "--handler-name=spam", "--handler-type=recipient",
                    "--hook=before-queue", "--handler-type-name=a@x.com, b@y.com"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "ERROR: --handler-type-name: 'a@x.com, b@y.com' has a domain that holds "
                          "a character other than letters, digits, '-', '_' and '.'\n");
}

} // namespace
} // namespace korvo::test
