// The mailname commands as the panel runs them: panel rows first, state read
// back with the real tools.
#include "MailCommandFixture.h"

namespace korvo::test {
namespace {

using MailnameCommandsTest = MailCommandTest;

const std::string inExample = "--domain-name=example.com";

TEST_F(MailnameCommandsTest, LifeOfADomain) {
    addDomain("example.com");
    ok({"--add-domain", inExample});
    addMailname("example.com", "info");
    ok({"--add-mailname", inExample, "--mailname=info", "--disk-quota=1048576"});
    ok({"--add-mailbox", inExample, "--mailname=info"}, {"ORQ_PASSWORD=secret"});
    addMailname("example.com", "boss");
    ok({"--add-mailname", inExample, "--mailname=boss"});
    ok({"--add-mailbox", inExample, "--mailname=boss"}, {"ORQ_CRYPTED_PASSWORD=$1$abc$def"});
    panelSql("INSERT INTO domainaliases (name, dom_id) SELECT 'alias.example', id FROM domains");
    ok({"--add-domain-alias", inExample, "--domain-alias-name=alias.example", "--set-reject"});
    panelSql("INSERT INTO mail_aliases (mn_id, alias) SELECT id, 'sales' FROM mail WHERE "
             "mail_name='info'");
    ok({"--add-alias", inExample, "--mailname=info", "--alias=sales"});
    ok({"--add-redirect", inExample, "--mailname=info", "--redirect-email=boss@other.example"});
    ok({"--set-autoresponder", inExample, "--mailname=info"});
    EXPECT_EQ(dump(virtualTable)["sales@alias.example"], "info@example.com");
    EXPECT_EQ(authUsers(), "boss@alias.example|NULL|$1$abc$def|0|0\n"
                           "info@alias.example|secret|NULL|0|0\n"
                           "sales@alias.example|secret|NULL|0|0\n"
                           "boss@example.com|NULL|$1$abc$def|0|0\n"
                           "info@example.com|secret|NULL|0|0\n"
                           "sales@example.com|secret|NULL|0|0\n");
    const std::string home = "/var/qmail/mailnames/example.com/";
    EXPECT_EQ(readFile(home + "info/.qmail"),
              "| true\n| /usr/bin/deliverquota ./Maildir\n&boss@other.example\n");

    panelSql("UPDATE mail SET mail_name='office' WHERE mail_name='info'");
    ok({"--rename-mailname", inExample, "--old-mailname=info", "--new-mailname=office"},
       {"ORQ_PASSWORD=secret"});
    EXPECT_EQ(dump(mailboxTable), (Content{{"boss@example.com", "example.com/boss/Maildir/"},
                                           {"office@example.com", "example.com/office/Maildir/"}}));
    const Content table = dump(virtualTable);
    EXPECT_EQ(table.count("info@example.com") + table.count("info@alias.example"), 0u);
    EXPECT_EQ(table.at("office@alias.example"), "office@example.com");
    EXPECT_EQ(table.at("sales@example.com"), "office@example.com");
    EXPECT_EQ(authSql("SELECT u.name || '@' || d.name || ' ' || u.userPassword FROM users u, "
                      "domains d WHERE u.dom_id = d.id AND u.name IN ('info', 'office') "
                      "ORDER BY d.name"),
              "office@alias.example secret\noffice@example.com secret\n");
    EXPECT_EQ(shell("grep -rqx office@example.com /usr/local/orq/handlers/info"), 0);

    ok({"--remove-redirect", inExample, "--mailname=office",
        "--redirect-email=boss@other.example"});
    ok({"--reset-autoresponder", inExample, "--mailname=office"});
    EXPECT_TRUE(handlers().empty());
    ok({"--remove-alias", inExample, "--mailname=office", "--alias=sales"});
    panelSql("DELETE FROM mail_aliases");
    ok({"--remove-mailbox", inExample, "--mailname=office"});
    EXPECT_EQ(readFile(home + "office/.qmail"), "| true\n");
    EXPECT_EQ(authUsers(), "boss@alias.example|NULL|$1$abc$def|0|0\n"
                           "boss@example.com|NULL|$1$abc$def|0|0\n");

    // Nothing of the domain is left behind.
    ok({"--remove-mailname", inExample, "--mailname=boss"});
    ok({"--remove-mailname", inExample, "--mailname=office"});
    panelSql("DELETE FROM mail");
    ok({"--del-domain-alias", inExample, "--domain-alias-name=alias.example"});
    panelSql("DELETE FROM domainaliases");
    ok({"--remove-domain", inExample});
    for (const char* name : {virtualTable, mailboxTable, domainsTable})
        EXPECT_TRUE(dump(name).empty()) << name;
    EXPECT_EQ(authSql("SELECT count(*) FROM users; SELECT count(*) FROM domains"), "0\n0\n");
    EXPECT_FALSE(isDirectory("/var/qmail/mailnames/example.com"));
}

TEST_F(MailnameCommandsTest, PasswordsAndHandlersOfEveryAddress) {
    addDomain("example.com", {"alias.example"});
    addMailname("example.com", "info", {"sales", "office"});
    ok({"--add-domain", inExample});
    ok({"--add-mailname", inExample, "--mailname=info"});
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

    // Panel database down: nothing can be listed, nothing changes.
    ok({"--add-mailname", inExample, "--mailname=info"});
    const Snapshot before = takeSnapshot();
    PanelServer::stop();
    const CommandResult removed = runVornctl({"--remove-mailname", inExample, "--mailname=info"});
    PanelServer::start();
    EXPECT_EQ(removed.status, 1);
    EXPECT_NE(removed.err.find("Unable to remove mailname from domain aliases"), std::string::npos)
        << removed.err;
    EXPECT_TRUE(compareSnapshots(before, takeSnapshot()));
}

// The argument lists of the programs a command started, as strace saw them.
std::vector<std::string> childPrograms(const std::vector<std::string>& args,
                                       const std::vector<std::string>& env = {}) {
    std::vector<std::string> argv = {
        "/usr/bin/strace",           "-f", "-qq", "-s", "4096", "-e", "trace=execve", "-o",
        "/run/vornctl-sandbox/execs"};
    argv.push_back(VORNCTL_BINARY);
    argv.insert(argv.end(), args.begin(), args.end());
    // LeakSanitizer refuses to run under ptrace; every other test checks for leaks.
    std::vector<std::string> traced = env;
    traced.push_back("ASAN_OPTIONS=detect_leaks=0");
    const CommandResult result = runCommand(argv, traced);
    EXPECT_EQ(result.status, 0) << args[0] << ": " << result.err;
    std::vector<std::string> programs;
    std::istringstream lines(readFile("/run/vornctl-sandbox/execs"));
    for (std::string line; std::getline(lines, line);) {
        const std::size_t open = line.find("execve(\"");
        if (open == std::string::npos || line.find(") = 0") == std::string::npos)
            continue;
        const std::size_t first = line.find('[', open);
        programs.push_back(line.substr(first + 1, line.find(']', first) - first - 1));
    }
    if (!programs.empty())
        programs.erase(programs.begin()); // vornctl itself
    return programs;
}

// One postmap run per record change, one dump and one rebuild per whole-table filter.
TEST_F(MailnameCommandsTest, ChildProcessesAreThePostmapRunsOfTheSteps) {
    addDomain("example.com", {"alias.example"});
    addMailname("example.com", "info");
    ok({"--add-domain", inExample});
    const std::string postmap = "\"/usr/sbin/postmap\", ";
    const std::string mailboxes = "\"hash:/var/spool/postfix/korvo/vmailbox\"";
    const std::string virtuals = "\"hash:/var/spool/postfix/korvo/virtual\"";
    EXPECT_EQ(childPrograms({"--add-mailname", inExample, "--mailname=info", "--disk-quota=1000"}),
              (std::vector<std::string>{postmap + "\"-r\", \"-i\", " + mailboxes,
                                        postmap + "\"-r\", \"-i\", " + virtuals}));

    // Mailboxes, virtual, virtual again for the domain alias.
    ok({"--add-mailbox", inExample, "--mailname=info"}, {"ORQ_PASSWORD=pw"});
    panelSql("UPDATE mail SET mail_name = 'office'");
    const std::vector<std::string> renamed = childPrograms(
        {"--rename-mailname", inExample, "--old-mailname=info", "--new-mailname=office"},
        {"ORQ_PASSWORD=pw"});
    ASSERT_EQ(renamed.size(), 6u);
    const std::string dumped[] = {mailboxes, virtuals, virtuals};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(renamed[2 * i], postmap + "\"-s\", " + dumped[i]);
        EXPECT_EQ(renamed[2 * i + 1].rfind(postmap, 0), 0u) << renamed[2 * i + 1];
    }
}

} // namespace
} // namespace korvo::test
