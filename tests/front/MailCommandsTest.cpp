// The mail domain, mailname, alias, DomainKey, attachment and handler commands
// as the panel runs them: panel rows first, state read back with the real
// postmap, the panel MariaDB, the SQLite authentication database, the mail
// homes and the handler registry.
#include "CommandFixture.h"
#include "mail/handlers/RegistryFixture.h"
#include "postfix/managers/ManagerFixture.h"
#include "sandbox/MailAuthDatabase.h"

#include <grp.h>

namespace korvo::test {
namespace {

const std::string ace = "xn--bcher-kva.example";
const std::string inExample = "--domain-name=example.com";
const std::string inBuecher = "--domain-name=Bücher.example";
const std::string uploaded = "/var/lib/korvo/upload.key";
const std::string fromUpload = "--file-name=" + uploaded;

// A command on the handler "spam" of the before-queue hook; an add gets a program.
std::vector<std::string> handlerArgs(const std::string& word, const std::string& type,
                                     const std::string& typeName = "") {
    std::vector<std::string> args = {word, "--handler-name=spam", "--handler-type=" + type,
                                     "--hook=before-queue"};
    if (!typeName.empty())
        args.push_back("--handler-type-name=" + typeName);
    if (word == "--add-handler")
        args.insert(args.end(), {"--executable=/bin/true", "--context=ctx", "--priority=10"});
    return args;
}

int handler(const std::string& word, const std::string& type, const std::string& typeName = "") {
    return runVornctl(handlerArgs(word, type, typeName)).status;
}

// args with the value of option replaced by NAME, for a hostile-name run.
std::vector<std::string> withName(std::vector<std::string> args, const std::string& option) {
    for (std::string& arg : args)
        if (arg.rfind(option + "=", 0) == 0)
            arg = option + "=NAME";
    return args;
}

class MailCommandsTest : public ManagerTest {
protected:
    void SetUp() override {
        ManagerTest::SetUp();
        createMailAuthDatabase();
        installAutoresponderHook();
    }

    // Names of the registered mail handlers, sorted.
    static std::vector<std::string> handlers() { return entries(kInfo); }

    static constexpr const char* virtualTable = "hash:/var/spool/postfix/korvo/virtual";
    static constexpr const char* domainsTable = "hash:/var/spool/postfix/korvo/virtual_domains";

    // example.com with the mailbox info (password "pw"), an autoresponder and a DomainKey.
    void addExampleMailbox() {
        serveDomain("example.com");
        serveMailbox("example.com", "info", "ORQ_PASSWORD=pw");
        ok({"--set-autoresponder", inExample, "--mailname=info"});
        writeFile(uploaded, "KEY\n");
        ok({"--set-domain-key", inExample, fromUpload});
    }
};

TEST_F(MailCommandsTest, InternationalDomainThroughCatchAllRejectAndSwitches) {
    addDomain(ace);
    ok({"--add-domain", inBuecher, "--disk-quota=-1"});
    // No mailbox: the domain has no row in the authentication database yet.
    EXPECT_EQ(dump(domainsTable), (Content{{ace, ace + "/"}}));

    ok({"--set-catchall", inBuecher, "--email=boss@Bücher.example"});
    EXPECT_EQ(dump(virtualTable)["@" + ace], "boss@" + ace);
    ok({"--set-reject", inBuecher});
    EXPECT_EQ(dump(virtualTable).count("@" + ace), 0u);

    // The authentication database decides first: without it nothing moves.
    ::rename(mailAuthPath, "/var/spool/postfix/korvo/passwd.away");
    const Snapshot before = takeSnapshot();
    EXPECT_EQ(runVornctl({"--turn-off-domain", inBuecher}).status, 1);
    EXPECT_EQ(runVornctl({"--remove-domain", inBuecher}).status, 1);
    EXPECT_TRUE(compareSnapshots(before, takeSnapshot()));
    ::rename("/var/spool/postfix/korvo/passwd.away", mailAuthPath);

    ok({"--turn-off-domain", inBuecher});
    EXPECT_TRUE(dump(domainsTable).empty());
    // A re-run of --add-domain leaves it switched off, every record as it was.
    const Content switchedOff = dump(virtualTable);
    ok({"--add-domain", inBuecher});
    EXPECT_TRUE(dump(domainsTable).empty());
    EXPECT_EQ(dump(virtualTable), switchedOff);
    ok({"--turn-on-domain", inBuecher});
    ok({"--remove-domain", inBuecher});
    EXPECT_EQ(authSql("SELECT count(*) FROM domains"), "0\n");
    EXPECT_FALSE(isDirectory("/var/qmail/mailnames/" + ace));
}

TEST_F(MailCommandsTest, RefusalsAndFailuresChangeNothing) {
    // The domain record comes after the standard addresses.
    ::unlink("/var/spool/postfix/korvo/virtual_domains.db");
    ASSERT_EQ(::mkdir("/var/spool/postfix/korvo/virtual_domains.db", 0755), 0);
    const CommandResult add = runVornctl({"--add-domain", inExample});
    EXPECT_EQ(add.status, 1);
    EXPECT_EQ(add.out, add.err);
    EXPECT_EQ(dump(virtualTable), standardAddresses("example.com"));
    ASSERT_EQ(::rmdir("/var/spool/postfix/korvo/virtual_domains.db"), 0);

    serveDomain("example.com");
    const Snapshot before = takeSnapshot();
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"--set-catchall", inExample}, {"--add-domain", inExample, "--disk-quota=big"}})
        EXPECT_EQ(runVornctl(args).status, 1) << args[0];
    EXPECT_TRUE(compareSnapshots(before, takeSnapshot()));
}

TEST_F(MailCommandsTest, DomainAliasesAndKeysWithEverythingTheirDomainHas) {
    addExampleMailbox();
    // The uploaded key is removed once installed.
    EXPECT_NE(::access(uploaded.c_str(), F_OK), 0);
    const struct stat installed = statOf("/etc/domainkeys/example.com/default");
    EXPECT_EQ(installed.st_mode & 07777, 0440u);
    EXPECT_EQ(installed.st_uid, 0u);
    EXPECT_EQ(installed.st_gid, ::getgrnam("popuser")->gr_gid);
    panelSql("INSERT INTO domainaliases (name, dom_id) SELECT 'alias.example', id FROM domains");
    // Without a choice for unknown names the alias is made, and the answer is 1.
    const CommandResult result =
        runVornctl({"--add-domain-alias", inExample, "--domain-alias-name=alias.example"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err.rfind("Action for notexisting mail names is not specified", 0), 0u);
    EXPECT_EQ(result.out, result.err);
    EXPECT_EQ(dump(virtualTable)["info@alias.example"], "info@example.com");
    EXPECT_EQ(authUsers(), "info@alias.example|pw|NULL|0|0\ninfo@example.com|pw|NULL|0|0\n");
    EXPECT_EQ(readFile("/etc/domainkeys/alias.example/default"), "KEY\n");
    EXPECT_EQ(handlers().size(), 2u);

    ok({"--del-domain-alias", "--domain-name=unused", "--domain-alias-name=alias.example"});
    EXPECT_FALSE(isDirectory("/etc/domainkeys/alias.example"));
    EXPECT_EQ(handlers().size(), 1u);

    ok({"--add-domain-alias", inExample, "--domain-alias-name=alias.example", "--set-reject"});

    // A catch-all without an address is refused before anything changes.
    const Snapshot before = takeSnapshot();
    EXPECT_EQ(
        runVornctl({"--rename-domain-alias", inExample, "--old-domain-alias-name=alias.example",
                    "--new-domain-alias-name=bücher.example", "--set-catchall", "--email", ""})
            .status,
        1);
    EXPECT_TRUE(compareSnapshots(before, takeSnapshot()));

    panelSql("UPDATE domainaliases SET name = " + sqlLiteral(ace));
    ok({"--rename-domain-alias", inExample, "--old-domain-alias-name=alias.example",
        "--new-domain-alias-name=Bücher.example", "--set-catchall", "--email=info@Bücher.example"});
    EXPECT_EQ(dump(virtualTable).at("@" + ace), "info@" + ace);
    EXPECT_EQ(authUsers(), "info@example.com|pw|NULL|0|0\ninfo@" + ace + "|pw|NULL|0|0\n");
    EXPECT_EQ(readFile("/etc/domainkeys/" + ace + "/default"), "KEY\n");
    EXPECT_EQ(shell("grep -rqx info@" + ace + " /usr/local/orq/handlers/info"), 0);

    // A key that cannot be read stays where it was uploaded.
    ASSERT_EQ(::mkdir(uploaded.c_str(), 0700), 0);
    EXPECT_EQ(runVornctl({"--set-domain-key", "--domain-name=b.example", fromUpload}).status, 1);
    EXPECT_TRUE(isDirectory(uploaded));
    ASSERT_EQ(::rmdir(uploaded.c_str()), 0);

    writeFile(uploaded, "OTHER\n");
    ok({"--set-domain-key", "--domain-name=a.example,,Bücher.example", fromUpload});
    EXPECT_EQ(readFile("/etc/domainkeys/" + ace + "/default"), "OTHER\n");
    // The failed install leaves its empty directory, which the removal takes.
    ok({"--remove-domain-key", "--domain-name=example.com,a.example," + ace + ",b.example"});
    EXPECT_EQ(runCommand({"/usr/bin/find", "/etc/domainkeys", "-mindepth", "1"}).out, "");

    writeFile(uploaded, "KEY\n");
    expectHostileNamesRefused({"--set-domain-key", "--domain-name=a.example,NAME", fromUpload});
}

TEST_F(MailCommandsTest, LifeOfADomain) {
    serveDomain("example.com");
    addMailname("example.com", "info");
    ok({"--add-mailname", inExample, "--mailname=info", "--disk-quota=1048576"});
    ok({"--add-mailbox", inExample, "--mailname=info"}, {"ORQ_PASSWORD=secret"});
    panelSql("INSERT INTO mail_aliases (mn_id, alias) SELECT id, 'sales' FROM mail WHERE "
             "mail_name='info'");
    ok({"--add-alias", inExample, "--mailname=info", "--alias=sales"});
    ok({"--set-autoresponder", inExample, "--mailname=info"});

    panelSql("UPDATE mail SET mail_name='office' WHERE mail_name='info'");
    ok({"--rename-mailname", inExample, "--old-mailname=info", "--new-mailname=office"},
       {"ORQ_PASSWORD=secret"});
    EXPECT_EQ(dump(virtualTable).at("sales@example.com"), "office@example.com");
    EXPECT_EQ(shell("grep -rqx office@example.com /usr/local/orq/handlers/info"), 0);
    ok({"--reset-autoresponder", inExample, "--mailname=office"});
    EXPECT_TRUE(handlers().empty());
}

TEST_F(MailCommandsTest, PasswordsAndHandlersOfEveryAddress) {
    serveDomain("example.com", {"alias.example"});
    serveMailname("example.com", "info", {"sales", "office"});
    ok({"--set-password", inExample, "--mailname=info", "-D"}, {"ORQ_CRYPTED_PASSWORD=$1$x$y"});
    // -D: the domain's flag, not the user's, says disabled.
    EXPECT_EQ(authSql("SELECT count(*) FROM users u, domains d WHERE u.dom_id = d.id AND "
                      "u.cmusaslsecretPLAIN = '$1$x$y' AND u.userPassword IS NULL AND "
                      "u.status = 0 AND d.status = 1"),
              "6\n");
    // No password at all takes the users out.
    ok({"--set-password", inExample, "--mailname=info"});
    EXPECT_EQ(authUsers(), "");

    // One handler on each of the mailbox's six addresses; its removal takes all.
    for (const char* domain : {"example.com", "alias.example"})
        for (const char* name : {"info", "sales", "office"})
            ok({"--set-autoresponder", std::string("--domain-name=") + domain,
                std::string("--mailname=") + name});
    EXPECT_EQ(handlers().size(), 6u);
    ok({"--remove-mailname", inExample, "--mailname=info"});
    EXPECT_TRUE(handlers().empty());
}

TEST_F(MailCommandsTest, AttachmentsAddListRemoveAndRefuse) {
    const std::string homes = "/var/qmail/mailnames/" + ace + "/";
    ASSERT_EQ(shell("mkdir -p " + homes + "info/@attachments " + homes +
                    "sales/@attachments && chown -R popuser:popuser /var/qmail/mailnames"),
              0);
    writeFile(uploaded, "hello");
    const std::string report = "--attachment-file-name=Report 1 (final).pdf";
    ok({"--add-attachment", inBuecher, "--mailname=info", fromUpload, report});
    const std::string stored = homes + "info/@attachments/Report 1 (final).pdf";
    EXPECT_EQ(statOf(stored).st_mode & 07777, 0644u);
    const std::vector<std::string> listed =
        lines(succeeds({"--list-attachments", inBuecher, "--mail-all", "--fullname"}).out);
    EXPECT_EQ(listed, std::vector<std::string>{stored + "\t5"});
    // Removal is idempotent.
    for (int round = 0; round < 2; ++round)
        ok({"--remove-attachment", inBuecher, "--mailname=info", report});
    EXPECT_NE(::access(stored.c_str(), F_OK), 0);

    // Exactly one of --mailname and --mail-all.
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"--list-attachments", inBuecher},
             {"--list-attachments", inBuecher, "--mail-all", "--mailname=info"}})
        EXPECT_EQ(runVornctl(args).status, 1) << args.size();
    expectHostileNamesRefused({"--add-attachment", inBuecher, "--mailname=info", "--file-name=NAME",
                               "--attachment-file-name=a.txt"},
                              {"a\nb", "\xff\xfe"});
}

TEST_F(MailCommandsTest, HandlerListsAndValuesThroughTheirLife) {
    ASSERT_EQ(handler("--add-handler", "recipient", "A@Example.com, b@example.com"), 0);
    // An existing handler is not added twice.
    ASSERT_EQ(handler("--add-handler", "recipient", "a@example.com"), 0);
    ASSERT_EQ(handlers().size(), 2u);
    const auto queuedFor = [](const std::string& prefix) {
        int count = 0;
        for (const std::string& name : handlers())
            count += name.rfind(prefix, 0) == 0 &&
                     exists(kRoot + "/before-queue/recipient/a@example.com/" + name);
        return count;
    };
    // The panel reads --check-handler the other way round.
    EXPECT_EQ(handler("--check-handler", "recipient", "a@example.com"), 1);
    EXPECT_EQ(handler("--check-handler", "recipient", "c@example.com"), 0);

    // A missing handler in the list is reported, the others still updated.
    const CommandResult update =
        runVornctl({"--update-handler", "--handler-name=spam", "--handler-type=recipient",
                    "--handler-type-name=a@example.com,c@example.com", "--executable", "",
                    "--context", "", "--hook=before-queue", "--priority=20"});
    EXPECT_EQ(update.status, 0) << update.err;
    EXPECT_NE(update.err, "");
    EXPECT_EQ(queuedFor("20-spam-"), 1);
    EXPECT_EQ(handler("--remove-handler", "recipient", "a@example.com b@example.com"), 0);
    EXPECT_TRUE(handlers().empty());

    // A global handler takes no list; removing none succeeds silently.
    ASSERT_EQ(handler("--add-handler", "global"), 0);
    EXPECT_EQ(handler("--check-handler", "global"), 1);
    EXPECT_EQ(handler("--remove-handler", "global"), 0);
    ok(handlerArgs("--remove-handler", "global"));
    EXPECT_EQ(handler("--add-handler", "sender"), 1); // no --handler-type-name

    const std::vector<std::string> add =
        handlerArgs("--add-handler", "sender-domain", "Bücher.example");
    ASSERT_EQ(runVornctl(add).status, 0);
    ASSERT_EQ(handlers().size(), 1u);
    EXPECT_EQ(param(handlers()[0], "sender-domain"), ace + "\n");
    // Commas and blanks separate the list; every other hostile byte is refused.
    expectHostileNamesRefused(handlerArgs("--add-handler", "recipient", "NAME@example.com"),
                              {"../../etc", "a\tb", "a'b", overLongName, "\xff\xfe"});
    expectHostileNamesRefused(withName(add, "--context"), {"a\nb", "a\tb", "\xff\xfe"});
    expectHostileNamesRefused(withName(add, "--priority"), {"-1", "1/2", "a\nb", "10 "});
    EXPECT_EQ(handlers().size(), 1u);
}

} // namespace
} // namespace korvo::test
