// The domain alias and DomainKey commands, with the panel's rows written first.
#include "MailCommandFixture.h"

#include <grp.h>

namespace korvo::test {
namespace {

const char uploaded[] = "/var/lib/korvo/upload.key";
const char unchosen[] = "Action for notexisting mail names is not specified "
                        "(--set-bounce/--set-catchall/--set-reject)\n";

class DomainAliasCommandsTest : public MailCommandTest {
protected:
    // example.com with mailbox info (password "pw"), an autoresponder, a DomainKey.
    void SetUp() override {
        MailCommandTest::SetUp();
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

TEST_F(DomainAliasCommandsTest, AliasWithoutChoiceIsMadeAndAnswersOne) {
    panelSql("INSERT INTO domainaliases (name, dom_id) SELECT 'alias.example', id FROM domains");
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
    EXPECT_EQ(shell("grep -rqx info@alias.example /usr/local/orq/handlers/info"), 0);
    EXPECT_EQ(handlers().size(), 2u);

    // The alias goes with everything it was given.
    expectOptionError({"--del-domain-alias", "--domain-alias-name=alias.example"},
                      missing("domain-name"));
    ok({"--del-domain-alias", "--domain-name=unused", "--domain-alias-name=alias.example"});
    panelSql("DELETE FROM domainaliases");
    for (const auto& [key, value] : dump(virtualTable))
        EXPECT_EQ(key.find("alias.example"), std::string::npos) << key;
    EXPECT_EQ(authSql("SELECT count(*) FROM domains WHERE name = 'alias.example'"), "0\n");
    EXPECT_FALSE(isDirectory("/etc/domainkeys/alias.example"));
    EXPECT_EQ(handlers().size(), 1u);
}

TEST_F(DomainAliasCommandsTest, ChoiceForUnknownMailnamesOfTheAlias) {
    panelSql("INSERT INTO domainaliases (name, dom_id) SELECT 'alias.example', id FROM domains");
    // The bounce wins over the catch-all.
    ok({"--add-domain-alias", "--domain-name=example.com", "--domain-alias-name=alias.example",
        "--set-catchall", "--email=info@example.com", "--set-bounce", "--phrase=Gone"});
    EXPECT_EQ(dump(virtualTable)["@alias.example"],
              "_korvo_bounce_alias.example@localhost.localdomain");
    EXPECT_EQ(dump(aliasesTable).count("_korvo_bounce_alias.example"), 1u);
    EXPECT_EQ(dump(virtualTable).count("@example.com"), 0u);

    // A catch-all without an address is refused before anything changes.
    const Snapshot before = takeSnapshot();
    expectFatal({"--rename-domain-alias", "--domain-name=example.com",
                 "--old-domain-alias-name=alias.example", "--new-domain-alias-name=bücher.example",
                 "--set-catchall", "--email", ""},
                "korvo::mail::postfix::vornctl_commands::MissingMandatoryOption(mandatory option "
                "\"--email\" is not specified)");
    EXPECT_TRUE(compareSnapshots(before, takeSnapshot()));

    const std::string ace = "xn--bcher-kva.example";
    panelSql("UPDATE domainaliases SET name = " + sqlLiteral(ace));
    ok({"--rename-domain-alias", "--domain-name=example.com",
        "--old-domain-alias-name=alias.example", "--new-domain-alias-name=Bücher.example",
        "--set-catchall", "--email=info@Bücher.example"});
    const Content table = dump(virtualTable);
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

TEST_F(DomainAliasCommandsTest, UploadedKeyIsRemovedOnlyWhenInstalledAndNamesAreChecked) {
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
    EXPECT_EQ(readFile("/etc/domainkeys/xn--bcher-kva.example/default"), "OTHER\n");
    // The failed install leaves its empty directory, which the removal takes.
    ok({"--remove-domain-key",
        "--domain-name=example.com,a.example,xn--bcher-kva.example,b.example"});
    EXPECT_EQ(runCommand({"/usr/bin/find", "/etc/domainkeys", "-mindepth", "1"}).out, "");

    writeFile(uploaded, "KEY\n");
    expectHostileNamesRefused({"--add-domain-alias", "--domain-name=example.com",
                               "--domain-alias-name=alias.example", "--set-catchall",
                               "--email=NAME@example.com"});
    expectHostileNamesRefused({"--rename-domain-alias", "--domain-name=example.com",
                               "--old-domain-alias-name=alias.example",
                               "--new-domain-alias-name=NAME", "--set-reject"});
    expectHostileNamesRefused({"--set-domain-key", "--domain-name=a.example,NAME",
                               std::string("--file-name=") + uploaded});
    expectHostileNamesRefused({"--remove-domain-key", "--domain-name=NAME"});
}

} // namespace
} // namespace korvo::test
