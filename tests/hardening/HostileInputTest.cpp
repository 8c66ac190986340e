// Hostile text in every name position is refused before any change.
#include "front/CommandFixture.h"
#include "hardening/HardeningFixture.h"

namespace korvo::test {
namespace {

// File names may hold blanks and quotes, never a path, a line break or non-UTF-8.
std::vector<std::string> hostileFileNames() {
    return {"/",    "..",   ".",        "../../etc/passwd",   "a/b",
            "a\nb", "a\rb", "\xff\xfe", std::string(300, 'x')};
}

// Where mail is sent on any single address passes; these never do.
std::vector<std::string> hostileTargetLocalParts() {
    return {"", "a b", "a,b", "a\nb", "a\tb", "a@b", std::string(65, 'x'), "\xff\xfe"};
}

class HostileInputTest : public HardeningTest {
protected:
    void SetUp() override {
        HardeningTest::SetUp();
        serveDomain("main.test");
        serveMailname("main.test", "info");
        writeFile("/etc/orq/attachment", "data\n");
    }
};

TEST_F(HostileInputTest, EveryNamePositionRefusesHostileTextBeforeAnyChange) {
    const std::string panel = panelSql("SELECT * FROM domains; SELECT * FROM domainaliases; SELECT "
                                       "* FROM mail; SELECT * FROM mail_aliases;");
    // Domain names, then mailnames.
    const std::vector<std::vector<std::string>> namePositions = {
        {"--add-domain", "--domain-name=NAME"},
        {"--add-mailname", "--domain-name=NAME", "--mailname=info"},
        {"--add-domain-alias", "--domain-name=main.test", "--domain-alias-name=NAME"},
        {"--add-redirect", "--domain-name=main.test", "--mailname=info",
         "--redirect-email=info@NAME"},
        {"--add-mailname", "--domain-name=main.test", "--mailname=NAME"},
        {"--rename-mailname", "--domain-name=main.test", "--old-mailname=info",
         "--new-mailname=NAME"},
        {"--add-alias", "--domain-name=main.test", "--mailname=info", "--alias=NAME"},
    };
    // A removal reaches any mailname that is one path component.
    const std::vector<std::vector<std::string>> filePositions = {
        {"--remove-mailname", "--domain-name=main.test", "--mailname=NAME"},
        {"--add-attachment", "--domain-name=main.test", "--mailname=info",
         "--file-name=/etc/orq/attachment", "--attachment-file-name=NAME"},
        {"--remove-attachment", "--domain-name=main.test", "--mailname=info",
         "--attachment-file-name=NAME"},
        {"--add-handler", "--handler-name=NAME", "--handler-type=global", "--executable=/bin/true",
         "--context=x", "--hook=before-queue", "--priority=10"},
    };
    for (const auto& args : namePositions)
        expectHostileNamesRefused(args, hostileNames(), panel);
    expectHostileNamesRefused({"--set-catchall", "--domain-name=main.test", "--email=NAME@main.test"},
                              hostileTargetLocalParts(), panel);
    for (const auto& args : filePositions)
        expectHostileNamesRefused(args, hostileFileNames(), panel);
}

} // namespace
} // namespace korvo::test
