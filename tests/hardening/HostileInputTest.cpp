// Every command family with every name position filled with hostile text:
// record injection, path traversal, shell and SQL syntax, over-long names,
// invalid UTF-8 and IDNA-invalid names. Each run must be refused with
// status 1 and a "Fatal error: " naming the text, before anything changes.
// Links the mail account plants where the tool writes as root are never
// followed.
#include "front/CommandFixture.h"
#include "hardening/HardeningFixture.h"

#include <cstdio>
#include <unistd.h>

namespace korvo::test {
namespace {

// The shared hostile names plus malformed domains and more shell syntax.
// ("xn--zz", an ACE label no IDNA decoder accepts, and "-" are accepted
// today: harmless in paths and records, but no valid DNS names.)
std::vector<std::string> hostileDomainNames() {
    std::vector<std::string> names = hostileNames();
    for (const char* more : {"a..b", ".a", "a.", "a;b", "`id`",
                             "a\x7f"
                             "b",
                             "\xc3\x28.test"})
        names.push_back(more);
    return names;
}

// File names may hold blanks and quotes; what they never hold is a path or
// a line break, or bytes that are not UTF-8.
std::vector<std::string> hostileFileNames() {
    return {"/",    "..",   ".",        "../../etc/passwd",   "a/b",
            "a\nb", "a\rb", "\xff\xfe", std::string(300, 'x')};
}

class HostileInputTest : public HardeningTest {
protected:
    void SetUp() override {
        HardeningTest::SetUp();
        addDomain("main.test");
        addMailname("main.test", "info");
        writeFile("/etc/orq/attachment", "data\n");
    }
};

TEST_F(HostileInputTest, EveryNamePositionRefusesHostileTextBeforeAnyChange) {
    const std::string panel = panelSql("SELECT * FROM domains; SELECT * FROM domainaliases; SELECT "
                                       "* FROM mail; SELECT * FROM mail_aliases;");
    const std::vector<std::vector<std::string>> domainPositions = {
        {"--add-domain", "--domain-name=NAME"},
        {"--remove-domain", "--domain-name=NAME"},
        {"--turn-off-domain", "--domain-name=NAME"},
        {"--set-reject", "--domain-name=NAME"},
        {"--add-badmailfrom", "--domain-name=NAME"},
        {"--add-mailname", "--domain-name=NAME", "--mailname=info"},
        {"--add-domain-alias", "--domain-name=main.test", "--domain-alias-name=NAME"},
        {"--set-catchall", "--domain-name=main.test", "--email=info@NAME"},
        {"--add-redirect", "--domain-name=main.test", "--mailname=info",
         "--redirect-email=info@NAME"},
    };
    const std::vector<std::vector<std::string>> mailnamePositions = {
        {"--add-mailname", "--domain-name=main.test", "--mailname=NAME"},
        {"--remove-mailname", "--domain-name=main.test", "--mailname=NAME"},
        {"--rename-mailname", "--domain-name=main.test", "--old-mailname=info",
         "--new-mailname=NAME"},
        {"--add-alias", "--domain-name=main.test", "--mailname=info", "--alias=NAME"},
        {"--set-catchall", "--domain-name=main.test", "--email=NAME@main.test"},
        {"--add-redirect", "--domain-name=main.test", "--mailname=info",
         "--redirect-email=NAME@example.org"},
        {"--set-mailbox-disk-quota", "--domain-name=main.test", "--mailname=NAME",
         "--disk-quota=100"},
    };
    const std::vector<std::vector<std::string>> filePositions = {
        {"--add-attachment", "--domain-name=main.test", "--mailname=info",
         "--file-name=/etc/orq/attachment", "--attachment-file-name=NAME"},
        {"--remove-attachment", "--domain-name=main.test", "--mailname=info",
         "--attachment-file-name=NAME"},
        {"--add-handler", "--handler-name=NAME", "--handler-type=global", "--executable=/bin/true",
         "--context=x", "--hook=before-queue", "--priority=10"},
    };
    int runs = 0;
    for (const auto& args : domainPositions) {
        expectHostileNamesRefused(args, hostileDomainNames(), panel);
        runs += static_cast<int>(hostileDomainNames().size());
    }
    for (const auto& args : mailnamePositions) {
        expectHostileNamesRefused(args, hostileNames(), panel);
        runs += static_cast<int>(hostileNames().size());
    }
    for (const auto& args : filePositions) {
        expectHostileNamesRefused(args, hostileFileNames(), panel);
        runs += static_cast<int>(hostileFileNames().size());
    }
    std::printf("hostile: %d refused runs over %zu name positions\n", runs,
                domainPositions.size() + mailnamePositions.size() + filePositions.size());
}

// popuser owns the mail home and may put links at every name the tool
// writes there as root; each must be replaced or refused, never followed.
TEST_F(HostileInputTest, LinksPlantedInTheMailHomeAreNeverFollowed) {
    const std::string home = mailHome("main.test", "info");
    const std::string victim = "/etc/orq/victim";
    writeFile(victim, "precious\n");
    const std::string before = readFile(victim);
    const std::vector<std::pair<std::string, std::vector<std::string>>> plants = {
        {home + "/.qmail",
         {"--add-redirect", "--domain-name=main.test", "--mailname=info",
          "--redirect-email=x@example.org"}},
        {home + "/.qmail.tmp",
         {"--add-redirect", "--domain-name=main.test", "--mailname=info",
          "--redirect-email=y@example.org"}},
        {home + "/Maildir/maildirsize",
         {"--set-mailbox-disk-quota", "--domain-name=main.test", "--mailname=info",
          "--disk-quota=5000"}},
        {home + "/@attachments/planted",
         {"--add-attachment", "--domain-name=main.test", "--mailname=info",
          "--file-name=/etc/orq/attachment", "--attachment-file-name=planted"}},
    };
    for (const auto& [at, args] : plants) {
        ::unlink(at.c_str());
        ASSERT_EQ(shell("ln -s " + victim + " " + at + " && chown -h popuser:popuser " + at), 0)
            << at;
        runVornctl(args);
        EXPECT_EQ(readFile(victim), before) << "followed " << at;
        EXPECT_EQ(statOf(victim).st_uid, 0u) << "chowned through " << at;
        EXPECT_EQ(statOf(victim).st_mode & 07777, 0644u) << "chmodded through " << at;
    }
}

} // namespace
} // namespace korvo::test
