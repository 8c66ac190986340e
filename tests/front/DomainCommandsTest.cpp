// The mail domain, domain alias and DomainKey commands as the panel runs
// them: panel rows first, state read back with the real tools.
#include "MailCommandFixture.h"

#include <grp.h>

namespace korvo::test {
namespace {

const std::string ace = "xn--bcher-kva.example";
const char uploaded[] = "/var/lib/korvo/upload.key";

class DomainCommandsTest : public MailCommandTest {
protected:
    // example.com with the mailbox info (password "pw"), an autoresponder and a DomainKey.
    void addExampleMailbox() {
        addDomain("example.com");
        addMailname("example.com", "info");
        ok({"--add-domain", "--domain-name=example.com"});
        ok({"--add-mailname", "--domain-name=example.com", "--mailname=info"});
        ok({"--add-mailbox", "--domain-name=example.com", "--mailname=info"}, {"ORQ_PASSWORD=pw"});
        ok({"--set-autoresponder", "--domain-name=example.com", "--mailname=info"});
        writeFile(uploaded, "KEY\n");
        ok({"--set-domain-key", "--domain-name=example.com",
            std::string("--file-name=") + uploaded});
    }

    static std::string usersIn(const std::string& domain) {
        return authSql("SELECT u.name || ' ' || u.userPassword FROM users u, domains d WHERE "
                       "u.dom_id = d.id AND d.name = " +
                       sqlLiteral(domain) + " ORDER BY u.name");
    }
};

TEST_F(DomainCommandsTest, OptionAndNameErrorsChangeNothing) {
    addDomain("example.com");
    ok({"--add-domain", "--domain-name=example.com"});
    const Snapshot before = takeSnapshot();
    expectOptionError({"--set-catchall", "--domain-name=example.com"}, missing("email"));
    // The mandatory option declared last is reported first.
    expectOptionError({"--add-mailname"}, missing("mailname"));
    expectOptionError({"--del-domain-alias", "--domain-alias-name=alias.example"},
                      missing("domain-name"));
    expectFatal({"--set-catchall", "--domain-name=example.com", "--email=nobody"},
                "std::invalid_argument(nobody)");
    expectFatal({"--add-mailname", "--domain-name=example.com", "--mailname=a..b"},
                "std::invalid_argument(a..b)");
    EXPECT_EQ(runVornctl({"--add-domain", "--domain-name=example.com", "--disk-quota=big"}).status,
              1);
    EXPECT_TRUE(compareSnapshots(before, takeSnapshot()));
}

TEST_F(DomainCommandsTest, InternationalDomainThroughCatchAllRejectAndSwitches) {
    addDomain(ace);
    ok({"--add-domain", "--domain-name=Bücher.example", "--disk-quota=-1"});
    EXPECT_EQ(dump(domainsTable), (Content{{ace, ace + "/"}}));
    EXPECT_EQ(dump(virtualTable), standardAddresses(ace));
    addMailname(ace, "info");
    ok({"--add-mailname", "--domain-name=" + ace, "--mailname=info"});
    ok({"--add-mailbox", "--domain-name=Bücher.example", "--mailname=info"}, {"ORQ_PASSWORD=pw"});
    ok({"--set-domain-disk-quota", "--domain-name=bücher.example", "--disk-quota=2048"});
    const long long quota =
        std::stoll(readFile("/var/qmail/mailnames/" + ace + "/info/Maildir/maildirsize"));
    EXPECT_TRUE(quota > 0 && quota <= 2048) << quota; // less the attachments store

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

TEST_F(DomainCommandsTest, DomainAliasWithEverythingItsDomainHas) {
    addExampleMailbox();
    panelSql("INSERT INTO domainaliases (name, dom_id) SELECT 'alias.example', id FROM domains");
    // Without a choice for unknown names the alias is made, and the answer is 1.
    const std::string unchosen = "Action for notexisting mail names is not specified "
                                 "(--set-bounce/--set-catchall/--set-reject)\n";
    const CommandResult result = runVornctl(
        {"--add-domain-alias", "--domain-name=example.com", "--domain-alias-name=alias.example"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, unchosen);
    EXPECT_EQ(result.out, unchosen);
    Content table = dump(virtualTable);
    EXPECT_EQ(table["alias.example"], "1");
    EXPECT_EQ(table["info@alias.example"], "info@example.com");
    EXPECT_EQ(table.count("@alias.example"), 0u);
    EXPECT_EQ(usersIn("alias.example"), "info pw\n");
    EXPECT_EQ(readFile("/etc/domainkeys/alias.example/default"), "KEY\n");
    EXPECT_EQ(handlers().size(), 2u);

    ok({"--del-domain-alias", "--domain-name=unused", "--domain-alias-name=alias.example"});
    for (const auto& [key, value] : dump(virtualTable))
        EXPECT_EQ(key.find("alias.example"), std::string::npos) << key;
    EXPECT_EQ(authSql("SELECT count(*) FROM domains WHERE name = 'alias.example'"), "0\n");
    EXPECT_FALSE(isDirectory("/etc/domainkeys/alias.example"));
    EXPECT_EQ(handlers().size(), 1u);

    // The bounce wins over the catch-all.
    ok({"--add-domain-alias", "--domain-name=example.com", "--domain-alias-name=alias.example",
        "--set-catchall", "--email=info@example.com", "--set-bounce", "--phrase=Gone"});
    EXPECT_EQ(dump(virtualTable)["@alias.example"],
              "_korvo_bounce_alias.example@localhost.localdomain");
    EXPECT_EQ(dump(virtualTable).count("@example.com"), 0u);

    // A catch-all without an address is refused before anything changes.
    const Snapshot before = takeSnapshot();
    expectFatal({"--rename-domain-alias", "--domain-name=example.com",
                 "--old-domain-alias-name=alias.example", "--new-domain-alias-name=bücher.example",
                 "--set-catchall", "--email", ""},
                "korvo::mail::postfix::vornctl_commands::MissingMandatoryOption(mandatory option "
                "\"--email\" is not specified)");
    EXPECT_TRUE(compareSnapshots(before, takeSnapshot()));

    panelSql("UPDATE domainaliases SET name = " + sqlLiteral(ace));
    ok({"--rename-domain-alias", "--domain-name=example.com",
        "--old-domain-alias-name=alias.example", "--new-domain-alias-name=Bücher.example",
        "--set-catchall", "--email=info@Bücher.example"});
    table = dump(virtualTable);
    EXPECT_EQ(table.at("@" + ace), "info@" + ace);
    EXPECT_EQ(table.at("info@" + ace), "info@example.com");
    EXPECT_EQ(table.count("@alias.example") + table.count("info@alias.example"), 0u);
    EXPECT_EQ(usersIn(ace), "info pw\n");
    EXPECT_EQ(usersIn("alias.example"), "");
    EXPECT_EQ(readFile("/etc/domainkeys/" + ace + "/default"), "KEY\n");
    EXPECT_FALSE(isDirectory("/etc/domainkeys/alias.example"));
    EXPECT_EQ(shell("grep -rqx info@" + ace + " /usr/local/orq/handlers/info"), 0);

    // Panel database down: the tables are renamed, the users cannot follow.
    PanelServer::stop();
    const CommandResult stopped = runVornctl(
        {"--rename-domain-alias", "--domain-name=example.com", "--old-domain-alias-name=" + ace,
         "--new-domain-alias-name=third.example", "--set-reject"});
    PanelServer::start();
    EXPECT_EQ(stopped.status, 1);
    EXPECT_NE(stopped.err.find("Unable to get mailnames from domain example.com"),
              std::string::npos)
        << stopped.err;
    EXPECT_EQ(dump(virtualTable).at("info@third.example"), "info@example.com");
    EXPECT_EQ(usersIn(ace), "info pw\n");
}

TEST_F(DomainCommandsTest, UploadedKeyIsRemovedOnlyWhenInstalledAndNamesAreChecked) {
    addExampleMailbox();
    EXPECT_NE(::access(uploaded, F_OK), 0);
    const struct stat key = statOf("/etc/domainkeys/example.com/default");
    EXPECT_EQ(key.st_mode & 07777, 0440u);
    EXPECT_EQ(key.st_uid, 0u);
    EXPECT_EQ(key.st_gid, ::getgrnam("popuser")->gr_gid);

    ASSERT_EQ(::mkdir(uploaded, 0700), 0);
    EXPECT_EQ(runVornctl({"--set-domain-key", "--domain-name=b.example",
                          std::string("--file-name=") + uploaded})
                  .status,
              1);
    EXPECT_TRUE(isDirectory(uploaded));
    ASSERT_EQ(::rmdir(uploaded), 0);

    writeFile(uploaded, "OTHER\n");
    ok({"--set-domain-key", "--domain-name=a.example,,Bücher.example",
        std::string("--file-name=") + uploaded});
    EXPECT_EQ(readFile("/etc/domainkeys/" + ace + "/default"), "OTHER\n");
    // The failed install leaves its empty directory, which the removal takes.
    ok({"--remove-domain-key", "--domain-name=example.com,a.example," + ace + ",b.example"});
    EXPECT_EQ(runCommand({"/usr/bin/find", "/etc/domainkeys", "-mindepth", "1"}).out, "");

    writeFile(uploaded, "KEY\n");
    expectHostileNamesRefused({"--rename-domain-alias", "--domain-name=example.com",
                               "--old-domain-alias-name=alias.example",
                               "--new-domain-alias-name=NAME", "--set-reject"});
    expectHostileNamesRefused({"--set-domain-key", "--domain-name=a.example,NAME",
                               std::string("--file-name=") + uploaded});
}

} // namespace
} // namespace korvo::test
