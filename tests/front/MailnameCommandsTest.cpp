// The mailname commands through the built vornctl in the sandbox, from the
// panel's side: panel rows first, then the command; tables, homes, the
// authentication database and the handler registry read back with the
// real tools.
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
    EXPECT_EQ(table["postmaster@alias.example"], "postmaster@localhost.localdomain");
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
    EXPECT_EQ(handlers().size(), 1u);
    EXPECT_EQ(shell("grep -rqx info@example.com /usr/local/orq/handlers/info"), 0);

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
    EXPECT_TRUE(isDirectory(home + "office/Maildir/new"));
    EXPECT_EQ(authSql("SELECT u.name || '@' || d.name || ' ' || u.userPassword FROM users u, "
                      "domains d WHERE u.dom_id = d.id AND u.name IN ('info', 'office') "
                      "ORDER BY d.name"),
              "office@alias.example secret\noffice@example.com secret\n");
    EXPECT_EQ(shell("grep -rqx office@example.com /usr/local/orq/handlers/info"), 0);

    panelSql("UPDATE domainaliases SET name='new.example'");
    ok({"--rename-domain-alias", "--domain-name=example.com",
        "--old-domain-alias-name=alias.example", "--new-domain-alias-name=new.example",
        "--set-bounce", "--phrase=Gone away"});
    table = dump(virtualTable);
    for (const auto& [key, value] : table)
        EXPECT_EQ(key.find("alias.example"), std::string::npos) << key;
    EXPECT_EQ(table["office@new.example"], "office@example.com");
    EXPECT_EQ(table["@new.example"], "_korvo_bounce_new.example@localhost.localdomain");
    EXPECT_EQ(authSql("SELECT u.name || '@' || d.name FROM users u, domains d WHERE "
                      "u.dom_id = d.id AND d.name = 'new.example' ORDER BY u.name"),
              "boss@new.example\nchef@new.example\noffice@new.example\nsales@new.example\n");
    EXPECT_EQ(authSql("SELECT count(*) FROM domains WHERE name = 'alias.example'"), "0\n");

    ok({"--remove-redirect", "--domain-name=example.com", "--mailname=office",
        "--redirect-email=boss@other.example"});
    ok({"--reset-autoresponder", "--domain-name=example.com", "--mailname=office"});
    EXPECT_TRUE(handlers().empty());
    ok({"--remove-alias", "--domain-name=example.com", "--mailname=office", "--alias=sales"});
    ok({"--remove-alias", "--domain-name=example.com", "--mailname=boss", "--alias=chef"});
    panelSql("DELETE FROM mail_aliases");
    ok({"--remove-mailbox", "--domain-name=example.com", "--mailname=office"});
    EXPECT_EQ(readFile(home + "office/.qmail"), "| true\n");
    EXPECT_EQ(authUsers(), "boss@example.com|NULL|$1$abc$def|0|0\n"
                           "boss@new.example|NULL|$1$abc$def|0|0\n");

    ok({"--remove-mailname", "--domain-name=example.com", "--mailname=boss"});
    ok({"--remove-mailname", "--domain-name=example.com", "--mailname=office"});
    panelSql("DELETE FROM mail");
    EXPECT_FALSE(isDirectory(home + "office"));
    EXPECT_TRUE(dump(mailboxTable).empty());
    ok({"--del-domain-alias", "--domain-name=example.com", "--domain-alias-name=new.example"});
    panelSql("DELETE FROM domainaliases");
    ok({"--remove-domain", "--domain-name=example.com"});
    panelSql("DELETE FROM domains");

    for (const char* name : {virtualTable, mailboxTable, domainsTable})
        EXPECT_TRUE(dump(name).empty()) << name;
    // Bounce program records outlive their catch-all keys: nothing routes
    // to this one any more.
    EXPECT_EQ(dump(aliasesTable),
              (Content{{"_korvo_bounce_new.example",
                        "\"|/usr/lib64/korvo-9.0/bouncemessage Gone\\\\\\ away\""}}));
    EXPECT_EQ(authSql("SELECT count(*) FROM users; SELECT count(*) FROM domains"), "0\n0\n");
    EXPECT_FALSE(isDirectory("/var/qmail/mailnames/example.com"));
    EXPECT_TRUE(handlers().empty());
}

const std::pair<const char*, const char*> domainName{"--domain-name arg",
                                                     "domain name (mandatory)"};
const std::pair<const char*, const char*> mailname{"--mailname arg", "mailname (mandatory)"};
const std::pair<const char*, const char*> disabled{"-D [ --mail-domain-disabled ]",
                                                   "the domain is disabled (currently unused)"};
const std::string dm = " --domain-name=<domain_name> --mailname=<mail_name>";
const std::string passwordLines =
    "\n        The noncrypted password is transferred in the environment variable ORQ_PASSWORD,"
    "\n        or crypted password is transferred in the environment variable "
    "ORQ_CRYPTED_PASSWORD";

TEST_F(MailnameCommandsTest, HelpTexts) {
    for (const auto& [word, description] : std::vector<std::pair<const char*, const char*>>{
             {"--remove-mailname", "remove a mailname"},
             {"--remove-mailbox", "remove mailname's mailbox"},
             {"--set-autoresponder", "add autoresponder for a given mailname"},
             {"--reset-autoresponder", "remove autoresponder for a given mailname"}})
        expectUsage({word, description, word + dm, {domainName, mailname}});
    expectUsage({"--add-mailname",
                 "add a mailname",
                 "--add-mailname" + dm + " [--disk-quota=<quota>]",
                 {domainName, mailname, {"--disk-quota arg", "disk quota"}}});
    expectUsage({"--rename-mailname",
                 "rename a mailname",
                 "--rename-mailname --domain-name=<domain_name> --old-mailname=<old_mail_name> "
                 "--new-mailname=<new_mail_name> [--mail-domain-disabled|-D]",
                 {domainName,
                  {"--old-mailname arg", "old mailname (mandatory)"},
                  {"--new-mailname arg", "new mailname (mandatory)"},
                  disabled}});
    expectUsage({"--add-mailbox",
                 "add mailname's mailbox",
                 "--add-mailbox" + dm + " [--mail-domain-disabled|-D]" + passwordLines,
                 {domainName, mailname, disabled}});
    expectUsage({"--set-password",
                 "set mailname's password",
                 "--set-password" + dm + " [--mail-domain-disabled|-D]" + passwordLines,
                 {domainName, mailname, disabled}});
    expectUsage(
        {"--get-mailbox-size",
         "get mailbox size",
         "--get-mailbox-size [--in-blocks]" + dm,
         {{"--in-blocks", "count result in blocks rather than bytes"}, domainName, mailname}});
    expectUsage({"--set-mailbox-disk-quota",
                 "set mailbox disk quota",
                 "--set-mailbox-disk-quota" + dm + " --disk-quota=<quota>",
                 {domainName, mailname, {"--disk-quota arg", "disk quota (mandatory)"}}});
    for (const auto& [word, description] : std::vector<std::pair<const char*, const char*>>{
             {"--add-redirect", "add a redirect"},
             {"--remove-redirect", "remove a given redirect"}})
        expectUsage(
            {word,
             description,
             word + dm + " --redirect-email=<email>",
             {domainName, mailname, {"--redirect-email arg", "redirect email (mandatory)"}}});
    for (const auto& [word, description] : std::vector<std::pair<const char*, const char*>>{
             {"--add-alias", "add alias for a given mailname"},
             {"--remove-alias", "remove alias for a given mailname"}})
        expectUsage({word,
                     description,
                     word + dm + " --alias=<email_alias>",
                     {domainName, mailname, {"--alias arg", "alias email (mandatory)"}}});
}

TEST_F(MailnameCommandsTest, MissingOptionsAndRefusedNamesChangeNothing) {
    addDomain("example.com");
    ok({"--add-domain", "--domain-name=example.com"});
    const Snapshot before = takeSnapshot();
    // The mandatory option declared last is reported first.
    expectOptionError({"--add-mailname"}, missing("mailname"));
    expectOptionError({"--rename-mailname", "--domain-name=example.com", "--old-mailname=a"},
                      missing("new-mailname"));
    expectOptionError({"--set-mailbox-disk-quota", "--domain-name=example.com", "--mailname=a"},
                      missing("disk-quota"));
    expectFatal({"--add-mailname", "--domain-name=example.com", "--mailname=a..b"},
                "std::invalid_argument(a..b)");
    expectFatal({"--add-alias", "--domain-name=example.com", "--mailname=info", "--alias=x@y"},
                "std::invalid_argument(x@y)");
    expectFatal({"--add-redirect", "--domain-name=example.com", "--mailname=info",
                 "--redirect-email=nowhere"},
                "std::invalid_argument(nowhere)");
    EXPECT_TRUE(compareSnapshots(before, takeSnapshot()));

    expectHostileNamesRefused({"--add-mailname", "--domain-name=example.com", "--mailname=NAME"});
    expectHostileNamesRefused({"--add-mailname", "--domain-name=NAME", "--mailname=info"});
    expectHostileNamesRefused({"--rename-mailname", "--domain-name=example.com",
                               "--old-mailname=info", "--new-mailname=NAME"});
    expectHostileNamesRefused(
        {"--add-alias", "--domain-name=example.com", "--mailname=info", "--alias=NAME"});
    expectHostileNamesRefused({"--add-redirect", "--domain-name=example.com", "--mailname=info",
                               "--redirect-email=NAME@x.example"});
    expectHostileNamesRefused(
        {"--set-autoresponder", "--domain-name=example.com", "--mailname=NAME"});
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
    EXPECT_EQ(
        runVornctl({"--get-mailbox-size", "--domain-name=example.com", "--mailname=none"}).status,
        1);

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

    // A handler on each of the 1 + 1 + 2 + 2 addresses of the mailbox.
    for (const char* address :
         {"info@example.com", "info@alias.example", "sales@example.com", "office@example.com",
          "sales@alias.example", "office@alias.example"})
        ok({"--set-autoresponder", "--domain-name=" + std::string(std::strchr(address, '@') + 1),
            "--mailname=" + std::string(address, std::strchr(address, '@'))});
    EXPECT_EQ(handlers().size(), 6u);
    ok({"--remove-mailname", "--domain-name=example.com", "--mailname=info"});
    EXPECT_TRUE(handlers().empty());

    // The panel database stopped: nothing can be listed, nothing changes.
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

// The programs a command runs, one line of arguments each, as strace saw
// them started.
std::vector<std::string> childPrograms(const std::vector<std::string>& args,
                                       const std::vector<std::string>& env = {}) {
    std::vector<std::string> argv = {"/usr/bin/strace",
                                     "-f",
                                     "-qq",
                                     "-s",
                                     "4096",
                                     "-e",
                                     "trace=execve",
                                     "-o",
                                     "/run/vornctl-sandbox/execs",
                                     VORNCTL_BINARY};
    argv.insert(argv.end(), args.begin(), args.end());
    EXPECT_EQ(runCommand(argv, env).status, 0) << args[0];
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

    // Each whole-table filter is one dump and one rebuild: the mailbox
    // table, the virtual table, then the virtual table for the domain alias.
    ok({"--add-mailbox", "--domain-name=example.com", "--mailname=info"}, {"ORQ_PASSWORD=pw"});
    panelSql("UPDATE mail SET mail_name = 'office'");
    const std::vector<std::string> renamed =
        childPrograms({"--rename-mailname", "--domain-name=example.com", "--old-mailname=info",
                       "--new-mailname=office"},
                      {"ORQ_PASSWORD=pw"});
    ASSERT_EQ(renamed.size(), 6u);
    for (std::size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(renamed[i].rfind(postmap, 0), 0u) << renamed[i];
        EXPECT_EQ(renamed[i].find(i < 2 ? mailboxes : virtuals),
                  renamed[i].size() - (i < 2 ? mailboxes : virtuals).size())
            << renamed[i];
    }
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
