// The mailname commands as the panel runs them: panel rows first, state read
// back with the real tools.
#include "MailCommandFixture.h"

#include <cstring>

namespace korvo::test {
namespace {

using MailnameCommandsTest = MailCommandTest;

TEST_F(MailnameCommandsTest, LifeOfADomain) {
    addDomain("example.com");
    ok({"--add-domain", "--domain-name=example.com"});
    addMailname("example.com", "info");
    ok({"--add-mailname", "--domain-name=example.com", "--mailname=info", "--disk-quota=1048576"});
    ok({"--add-mailbox", "--domain-name=example.com", "--mailname=info"}, {"ORQ_PASSWORD=secret"});
    addMailname("example.com", "boss");
    ok({"--add-mailname", "--domain-name=example.com", "--mailname=boss"});
    ok({"--add-mailbox", "--domain-name=example.com", "--mailname=boss"},
       {"ORQ_CRYPTED_PASSWORD=$1$abc$def"});
    panelSql("INSERT INTO domainaliases (name, dom_id) SELECT 'alias.example', id FROM domains");
    ok({"--add-domain-alias", "--domain-name=example.com", "--domain-alias-name=alias.example",
        "--set-reject"});
    panelSql("INSERT INTO mail_aliases (mn_id, alias) SELECT id, 'sales' FROM mail WHERE "
             "mail_name='info'");
    ok({"--add-alias", "--domain-name=example.com", "--mailname=info", "--alias=sales"});
    panelSql("INSERT INTO mail_aliases (mn_id, alias) SELECT id, 'chef' FROM mail WHERE "
             "mail_name='boss'");
    ok({"--add-alias", "--domain-name=example.com", "--mailname=boss", "--alias=chef"});
    ok({"--add-redirect", "--domain-name=example.com", "--mailname=info",
        "--redirect-email=boss@other.example"});
    ok({"--set-autoresponder", "--domain-name=example.com", "--mailname=info"});
    EXPECT_EQ(dump(domainsTable), (Content{{"example.com", "example.com/"}}));
    Content table = dump(virtualTable);
    EXPECT_EQ(table["alias.example"], "1");
    EXPECT_EQ(table["info@alias.example"], "info@example.com");
    EXPECT_EQ(table["sales@alias.example"], "info@example.com");
    EXPECT_EQ(table["chef@alias.example"], "boss@example.com");
    EXPECT_EQ(authUsers(), "boss@alias.example|NULL|$1$abc$def|0|0\n"
                           "chef@alias.example|NULL|$1$abc$def|0|0\n"
                           "info@alias.example|secret|NULL|0|0\n"
                           "sales@alias.example|secret|NULL|0|0\n"
                           "boss@example.com|NULL|$1$abc$def|0|0\n"
                           "chef@example.com|NULL|$1$abc$def|0|0\n"
                           "info@example.com|secret|NULL|0|0\n"
                           "sales@example.com|secret|NULL|0|0\n");
    const std::string home = "/var/qmail/mailnames/example.com/";
    EXPECT_EQ(readFile(home + "info/.qmail"),
              "| true\n| /usr/bin/deliverquota ./Maildir\n&boss@other.example\n");
    EXPECT_EQ(statOf(home + "info/.qmail").st_mode & 07777, 0600u);

    panelSql("UPDATE mail SET mail_name='office' WHERE mail_name='info'");
    ok({"--rename-mailname", "--domain-name=example.com", "--old-mailname=info",
        "--new-mailname=office"},
       {"ORQ_PASSWORD=secret"});
    EXPECT_EQ(dump(mailboxTable), (Content{{"boss@example.com", "example.com/boss/Maildir/"},
                                           {"office@example.com", "example.com/office/Maildir/"}}));
    table = dump(virtualTable);
    EXPECT_EQ(table.count("info@example.com") + table.count("info@alias.example"), 0u);
    EXPECT_EQ(table["office@alias.example"], "office@example.com");
    EXPECT_EQ(table["sales@example.com"], "office@example.com");
    EXPECT_EQ(authSql("SELECT u.name || '@' || d.name || ' ' || u.userPassword FROM users u, "
                      "domains d WHERE u.dom_id = d.id AND u.name IN ('info', 'office') "
                      "ORDER BY d.name"),
              "office@alias.example secret\noffice@example.com secret\n");
    EXPECT_EQ(shell("grep -rqx office@example.com /usr/local/orq/handlers/info"), 0);

    ok({"--remove-redirect", "--domain-name=example.com", "--mailname=office",
        "--redirect-email=boss@other.example"});
    ok({"--reset-autoresponder", "--domain-name=example.com", "--mailname=office"});
    EXPECT_TRUE(handlers().empty());
    ok({"--remove-alias", "--domain-name=example.com", "--mailname=office", "--alias=sales"});
    ok({"--remove-alias", "--domain-name=example.com", "--mailname=boss", "--alias=chef"});
    panelSql("DELETE FROM mail_aliases");
    ok({"--remove-mailbox", "--domain-name=example.com", "--mailname=office"});
    EXPECT_EQ(readFile(home + "office/.qmail"), "| true\n");
    EXPECT_EQ(authUsers(), "boss@alias.example|NULL|$1$abc$def|0|0\n"
                           "boss@example.com|NULL|$1$abc$def|0|0\n");

    ok({"--remove-mailname", "--domain-name=example.com", "--mailname=boss"});
    ok({"--remove-mailname", "--domain-name=example.com", "--mailname=office"});
    panelSql("DELETE FROM mail");
    EXPECT_FALSE(isDirectory(home + "office"));
    EXPECT_TRUE(dump(mailboxTable).empty());
    ok({"--del-domain-alias", "--domain-name=example.com", "--domain-alias-name=alias.example"});
    panelSql("DELETE FROM domainaliases");
    ok({"--remove-domain", "--domain-name=example.com"});
    panelSql("DELETE FROM domains");

    for (const char* name : {virtualTable, mailboxTable, domainsTable})
        EXPECT_TRUE(dump(name).empty()) << name;
    EXPECT_EQ(authSql("SELECT count(*) FROM users; SELECT count(*) FROM domains"), "0\n0\n");
    EXPECT_FALSE(isDirectory("/var/qmail/mailnames/example.com"));
    EXPECT_TRUE(handlers().empty());
}

TEST_F(MailnameCommandsTest, SizePasswordsAndHandlersOfEveryAddress) {
    addDomain("example.com", {"alias.example"});
    addMailname("example.com", "info", {"sales", "office"});
    ok({"--add-domain", "--domain-name=example.com"});
    ok({"--add-mailname", "--domain-name=example.com", "--mailname=info"});
    writeFile("/var/qmail/mailnames/example.com/info/Maildir/new/1.host", std::string(1000, 'x'));
    const auto size = [](const std::vector<std::string>& extra) {
        std::vector<std::string> args = {"--get-mailbox-size", "--domain-name=example.com",
                                         "--mailname=info"};
        args.insert(args.end(), extra.begin(), extra.end());
        const CommandResult result = runVornctl(args);
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(result.out.find_first_not_of("0123456789"), std::string::npos) << result.out;
        return std::stoll(result.out);
    };
    const long long bytes = size({});
    writeFile("/var/qmail/mailnames/example.com/info/Maildir/new/2.host", std::string(500, 'x'));
    EXPECT_EQ(size({}), bytes + 500);
    EXPECT_GT(size({"--in-blocks"}), 0);

    ok({"--set-password", "--domain-name=example.com", "--mailname=info", "-D"},
       {"ORQ_CRYPTED_PASSWORD=$1$x$y"});
    EXPECT_EQ(authUsers(), "info@alias.example|NULL|$1$x$y|0|1\n"
                           "office@alias.example|NULL|$1$x$y|0|1\n"
                           "sales@alias.example|NULL|$1$x$y|0|1\n"
                           "info@example.com|NULL|$1$x$y|0|1\n"
                           "office@example.com|NULL|$1$x$y|0|1\n"
                           "sales@example.com|NULL|$1$x$y|0|1\n");
    // No password at all takes the users out.
    ok({"--set-password", "--domain-name=example.com", "--mailname=info"});
    EXPECT_EQ(authUsers(), "");

    // One handler on each of the mailbox's six addresses; its removal takes all.
    for (const char* address :
         {"info@example.com", "info@alias.example", "sales@example.com", "office@example.com",
          "sales@alias.example", "office@alias.example"})
        ok({"--set-autoresponder", "--domain-name=" + std::string(std::strchr(address, '@') + 1),
            "--mailname=" + std::string(address, std::strchr(address, '@'))});
    EXPECT_EQ(handlers().size(), 6u);
    ok({"--remove-mailname", "--domain-name=example.com", "--mailname=info"});
    EXPECT_TRUE(handlers().empty());

    // Panel database down: nothing can be listed, nothing changes.
    ok({"--add-mailname", "--domain-name=example.com", "--mailname=info"});
    const Snapshot before = takeSnapshot();
    PanelServer::stop();
    const CommandResult removed =
        runVornctl({"--remove-mailname", "--domain-name=example.com", "--mailname=info"});
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
    // LeakSanitizer refuses to run under ptrace; the sanitized build's leak
    // check runs in every other test.
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

TEST_F(MailnameCommandsTest, ChildProcessesAreThePostmapRunsOfTheSteps) {
    addDomain("example.com", {"alias.example"});
    addMailname("example.com", "info");
    ok({"--add-domain", "--domain-name=example.com"});
    const std::string postmap = "\"/usr/sbin/postmap\", ";
    const std::string mailboxes = "\"hash:/var/spool/postfix/korvo/vmailbox\"";
    const std::string virtuals = "\"hash:/var/spool/postfix/korvo/virtual\"";
    EXPECT_EQ(childPrograms({"--add-mailname", "--domain-name=example.com", "--mailname=info",
                             "--disk-quota=1000000"}),
              (std::vector<std::string>{postmap + "\"-r\", \"-i\", " + mailboxes,
                                        postmap + "\"-r\", \"-i\", " + virtuals}));

    // One dump and one rebuild per whole-table filter: mailboxes, virtual, virtual (alias).
    ok({"--add-mailbox", "--domain-name=example.com", "--mailname=info"}, {"ORQ_PASSWORD=pw"});
    panelSql("UPDATE mail SET mail_name = 'office'");
    const std::vector<std::string> renamed =
        childPrograms({"--rename-mailname", "--domain-name=example.com", "--old-mailname=info",
                       "--new-mailname=office"},
                      {"ORQ_PASSWORD=pw"});
    ASSERT_EQ(renamed.size(), 6u);
    for (std::size_t i = 1; i < 6; i += 2)
        EXPECT_EQ(renamed[i].rfind(postmap, 0), 0u) << renamed[i];
    EXPECT_EQ(renamed[0], postmap + "\"-s\", " + mailboxes);
    EXPECT_EQ(renamed[2], postmap + "\"-s\", " + virtuals);
    EXPECT_EQ(renamed[4], postmap + "\"-s\", " + virtuals);

    // The domain record, then one filter over each of the two tables.
    const std::vector<std::string> removed =
        childPrograms({"--remove-domain", "--domain-name=example.com"});
    ASSERT_EQ(removed.size(), 5u);
    EXPECT_EQ(removed[0],
              postmap +
                  "\"-d\", \"example.com\", \"hash:/var/spool/postfix/korvo/virtual_domains\"");
    EXPECT_EQ(removed[1], postmap + "\"-s\", " + virtuals);
    EXPECT_EQ(removed[3], postmap + "\"-s\", " + mailboxes);
    EXPECT_TRUE(dump(virtualTable).empty());
    EXPECT_TRUE(dump(mailboxTable).empty());
}

} // namespace
} // namespace korvo::test
