// What a domain and its alias answer at RCPT TO after re-runs and switches.
#include "flow/MailServerFixture.h"

namespace korvo::test {
namespace {

const std::string domain = "--domain-name=shop.example";
const std::vector<std::string> password = {"ORQ_PASSWORD=secret"};

// The mailbox, its alias, a standard address and a catch-all name.
const std::vector<std::string> servedAddresses = {
    "info@shop.example",  "sales@shop.example",  "postmaster@shop.example",  "nobody@shop.example",
    "info@alias.example", "sales@alias.example", "postmaster@alias.example", "nobody@alias.example"};

class ReRunsTest : public MailServerTest {
protected:
    void SetUp() override {
        startDefaultServer();
        addDomain("shop.example", {"alias.example"});
        addMailname("shop.example", "info", {"sales"});
        for (const std::vector<std::string>& command :
             std::vector<std::vector<std::string>>{
                 {"--add-domain", domain},
                 {"--add-domain-alias", domain, "--domain-alias-name=alias.example",
                  "--set-reject"},
                 {"--add-mailname", domain, "--mailname=info"},
                 {"--add-mailbox", domain, "--mailname=info"},
                 {"--add-alias", domain, "--mailname=info", "--alias=sales"},
                 {"--set-catchall", domain, "--email=info@shop.example"}})
            ok(command, password);
    }

    // After a change that turns the canary's answer around, every address
    // must get the answer wanted.
    static void expectAnswers(const std::string& canary, bool wanted,
                              const std::vector<std::string>& addresses) {
        ok({"--reload-service", "--mail-component=mta"});
        for (const std::string& address : addresses) {
            const std::string reply = replyOnceSeen(canary, wanted, address);
            EXPECT_EQ(wanted, accepted(reply)) << address << ": " << reply;
        }
    }
};

TEST_F(ReRunsTest, AddDomainAgainKeepsEveryAddressOfTheDomainAndItsAlias) {
    ok({"--add-domain", domain, "--disk-quota=50000000"});
    // A change the server must have seen before the addresses are asked.
    ok({"--add-alias", domain, "--mailname=info", "--alias=canary"}, password);
    expectAnswers("canary@shop.example", true, servedAddresses);
}

TEST_F(ReRunsTest, ASwitchedOffDomainTakesItsAliasAlongAndComesBackWhole) {
    ok({"--turn-off-domain", domain});
    expectAnswers("info@shop.example", false, servedAddresses);
    ok({"--turn-on-domain", domain});
    expectAnswers("info@shop.example", true, servedAddresses);
}

TEST_F(ReRunsTest, AnAliasRenamedToRejectRefusesUnknownNames) {
    ok({"--rename-domain-alias", domain, "--old-domain-alias-name=alias.example",
        "--new-domain-alias-name=renamed.example", "--set-reject"});
    expectAnswers("info@renamed.example", true,
                  {"sales@renamed.example", "postmaster@renamed.example"});
    expectAnswers("info@alias.example", false, {"nobody@renamed.example", "nobody@alias.example"});
}

} // namespace
} // namespace korvo::test
