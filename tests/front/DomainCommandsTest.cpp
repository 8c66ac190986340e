// The mail domain commands as the panel runs them: panel rows first.
#include "MailCommandFixture.h"

namespace korvo::test {
namespace {

using DomainCommandsTest = MailCommandTest;

// Option and name errors of the domain and mailname commands.
TEST_F(DomainCommandsTest, MissingOptionsAndBadValuesChangeNothing) {
    addDomain("example.com");
    ok({"--add-domain", "--domain-name=example.com"});
    const Snapshot before = takeSnapshot();
    expectOptionError({"--set-catchall", "--domain-name=example.com"}, missing("email"));
    // The mandatory option declared last is reported first.
    expectOptionError({"--add-mailname"}, missing("mailname"));
    expectFatal({"--set-catchall", "--domain-name=example.com", "--email=nobody"},
                "std::invalid_argument(nobody)");
    expectFatal({"--set-bounce", "--domain-name=a!b.example"},
                "std::invalid_argument(a!b.example)");
    expectFatal({"--add-mailname", "--domain-name=example.com", "--mailname=a..b"},
                "std::invalid_argument(a..b)");
    EXPECT_EQ(runVornctl({"--add-domain", "--domain-name=example.com", "--disk-quota=big"}).status,
              1);
    EXPECT_TRUE(compareSnapshots(before, takeSnapshot()));
    expectHostileNamesRefused(
        {"--set-autoresponder", "--domain-name=example.com", "--mailname=NAME"});
}

TEST_F(DomainCommandsTest, InternationalDomainThroughCatchAllRejectAndSwitches) {
    const std::string ace = "xn--bcher-kva.example";
    addDomain(ace);
    ok({"--add-domain", "--domain-name=Bücher.example", "--disk-quota=-1"});
    EXPECT_EQ(dump(domainsTable), (Content{{ace, ace + "/"}}));
    EXPECT_EQ(dump(virtualTable), standardAddresses(ace));
    const struct stat root = statOf("/var/qmail/mailnames/" + ace);
    EXPECT_TRUE(S_ISDIR(root.st_mode));
    addMailname(ace, "info");
    ok({"--add-mailname", "--domain-name=" + ace, "--mailname=info"});
    ok({"--add-mailbox", "--domain-name=Bücher.example", "--mailname=info"}, {"ORQ_PASSWORD=pw"});

    ok({"--set-domain-disk-quota", "--domain-name=bücher.example", "--disk-quota=2048"});
    // The quota less what the attachments store takes.
    const std::string quota = readFile("/var/qmail/mailnames/" + ace + "/info/Maildir/maildirsize");
    EXPECT_GT(std::stoll(quota), 0);
    EXPECT_LE(std::stoll(quota), 2048);
    EXPECT_EQ(quota.find_first_not_of("0123456789"), quota.find("S,"));

    ok({"--set-catchall", "--domain-name=Bücher.example", "--email=boss@Bücher.example"});
    EXPECT_EQ(dump(virtualTable)["@" + ace], "boss@" + ace);
    ok({"--set-reject", "--domain-name=Bücher.example"});
    const Content rejecting = dump(virtualTable);
    EXPECT_EQ(rejecting.count("@" + ace), 0u);
    ok({"--set-bounce", "--domain-name=Bücher.example", "--phrase=No such user"});
    const Content bouncing = dump(aliasesTable);
    EXPECT_EQ(dump(virtualTable)["@" + ace], "_korvo_bounce_" + ace + "@localhost.localdomain");
    // A line feed in the phrase would end the record: it becomes a blank.
    ok({"--set-bounce", "--domain-name=Bücher.example", "--phrase=No such\nuser"});
    EXPECT_EQ(dump(aliasesTable), bouncing);
    ok({"--unset-reject", "--domain-name=Bücher.example"});
    EXPECT_EQ(dump(virtualTable), rejecting);

    // The authentication database decides first: without it nothing moves.
    ::rename(mailAuthPath, "/var/spool/postfix/korvo/passwd.away");
    const Snapshot before = takeSnapshot();
    EXPECT_EQ(runVornctl({"--turn-off-domain", "--domain-name=Bücher.example"}).status, 1);
    EXPECT_EQ(runVornctl({"--remove-domain", "--domain-name=Bücher.example"}).status, 1);
    EXPECT_TRUE(compareSnapshots(before, takeSnapshot()));
    ::rename("/var/spool/postfix/korvo/passwd.away", mailAuthPath);

    ok({"--turn-off-domain", "--domain-name=Bücher.example"});
    EXPECT_TRUE(dump(domainsTable).empty());
    EXPECT_EQ(authUsers(), "info@" + ace + "|pw|NULL|0|1\n");
    ok({"--turn-on-domain", "--domain-name=Bücher.example"});
    EXPECT_EQ(dump(domainsTable), (Content{{ace, ace + "/"}}));
    EXPECT_EQ(authUsers(), "info@" + ace + "|pw|NULL|0|0\n");

    ok({"--remove-domain", "--domain-name=Bücher.example"});
    EXPECT_TRUE(dump(domainsTable).empty());
    EXPECT_EQ(authSql("SELECT count(*) FROM domains"), "0\n");
    EXPECT_FALSE(isDirectory("/var/qmail/mailnames/" + ace));
}

TEST_F(DomainCommandsTest, FailingStepsLeaveWhatWasDoneBefore) {
    // The domain record comes after the standard addresses.
    ::unlink("/var/spool/postfix/korvo/virtual_domains.db");
    ASSERT_EQ(::mkdir("/var/spool/postfix/korvo/virtual_domains.db", 0755), 0);
    const CommandResult add = runVornctl({"--add-domain", "--domain-name=example.com"});
    EXPECT_EQ(add.status, 1);
    EXPECT_EQ(add.err.rfind("Fatal error: korvo::mail::postfix::PostfixConfigurationError(", 0), 0u)
        << add.err;
    EXPECT_EQ(add.out, add.err);
    EXPECT_EQ(dump(virtualTable), standardAddresses("example.com"));
    ASSERT_EQ(::rmdir("/var/spool/postfix/korvo/virtual_domains.db"), 0);

    // Panel database down: the domain's own users go, its alias's stay, tables too.
    addDomain("example.com", {"alias.example"});
    addMailname("example.com", "info");
    ok({"--add-domain", "--domain-name=example.com"});
    ok({"--add-mailname", "--domain-name=example.com", "--mailname=info"});
    ok({"--add-mailbox", "--domain-name=example.com", "--mailname=info"}, {"ORQ_PASSWORD=pw"});
    const Content tables = dump(virtualTable);
    PanelServer::stop();
    const CommandResult removed = runVornctl({"--remove-domain", "--domain-name=example.com"});
    PanelServer::start();
    EXPECT_EQ(removed.status, 1);
    EXPECT_NE(removed.err.find("Unable to get aliases for domain example.com"), std::string::npos)
        << removed.err;
    EXPECT_EQ(authUsers(), "info@alias.example|pw|NULL|0|0\n");
    EXPECT_EQ(dump(virtualTable), tables);
    EXPECT_EQ(dump(domainsTable), (Content{{"example.com", "example.com/"}}));
}

} // namespace
} // namespace korvo::test
