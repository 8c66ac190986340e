// Real IMAP, POP3 and SMTP AUTH logins against Courier and Postfix with the
// passwords the tool stored last.
#include "flow/MailServerFixture.h"
#include "sandbox/MailAuthDatabase.h"
#include "sandbox/Ports.h"

namespace korvo::test {
namespace {

const std::string domainHome = mailRoot + "/example.com";

// Every password the test hands to the tool; none may show anywhere else.
const std::vector<std::string> passwords = {"Info-secret-1", "Six-secret-6", "One-secret-1",
                                            "Changed-secret", "Off-secret"};

// Runs the checks (one a line, see the client) at once; one result a line.
std::vector<std::string> check(const std::string& checks) {
    const CommandResult result =
        runCommand({"/usr/bin/python3", sandboxFile("courier-mail-client")}, {}, checks);
    EXPECT_EQ(result.status, 0) << result.err;
    return lines(result.out);
}

std::string crypted(const std::string& form, const std::string& password) {
    const std::string text = shellOutput("openssl passwd -" + form + " -salt vornctl " + password);
    return text.substr(0, text.find('\n'));
}

// Sends a message through Postfix; the delivery agent stores it.
void send(const std::string& mailname, const std::string& subject) {
    const CommandResult sent =
        sendmail(mailname + "@example.com",
                 "From: friend@remote.example\nSubject: " + subject + "\n\nHello.\n");
    EXPECT_EQ(sent.status, 0) << mailname << ": " << sent.err;
}

// Logins fail for a moment after Courier's authentication daemon restarts.
bool authDaemonAnswers() {
    return shell("python3 -c 'import socket; socket.socket(socket.AF_UNIX).connect("
                 "\"/run/courier/authdaemon/socket\")' 2>/dev/null") == 0;
}

class MailAccessTest : public MailServerTest {
protected:
    void SetUp() override {
        startDefaultServer();
        if (HasFatalFailure())
            return;
        serveDomain("example.com", {"example.net"});
        serveDomain("example.org");
        ok({"--add-domain-alias", "--domain-name=example.com", "--domain-alias-name=example.net",
            "--set-reject"});
        ok({"--start-service", "--mail-component=pop3", "--mail-component=imap"});
        ASSERT_TRUE(becomesListening(110, true) && becomesListening(143, true));
        ASSERT_TRUE(waitUntil(authDaemonAnswers, 10));
    }
};

TEST_F(MailAccessTest, LoginsFollowThePasswordsTheToolStoredLast) {
    // What an earlier setup left, the query from before domain aliases were
    // linked to their domains: setup brings it up to date without --force.
    ASSERT_EQ(shell("sed -i -e 's/ LEFT JOIN domain_aliases l ON l.alias_id = d.id LEFT JOIN "
                    "domains h ON h.id = l.dom_id//' -e 's/ AND COALESCE(h.status, 0) = 0//' -e "
                    "'s/COALESCE(h.name, d.name)/d.name/g' /etc/courier/authsqliterc && ! grep -q "
                    "domain_aliases /etc/courier/authsqliterc"),
              0);
    const std::string authDatabase = "/var/spool/postfix/korvo/passwd.db";
    authSql("DROP TRIGGER fkd_domain_aliases_domains_id; DROP TABLE domain_aliases");
    const CommandResult upgraded = runSetup();
    EXPECT_EQ(upgraded.status, 0) << upgraded.out << upgraded.err;
    ASSERT_TRUE(waitUntil(authDaemonAnswers, 10));
    EXPECT_EQ(
        authSql("SELECT name FROM sqlite_master WHERE name LIKE '%domain_aliases%' ORDER BY name"),
        "domain_aliases\ndomain_aliases_dom_id\nfkd_domain_aliases_domains_id\n");

    serveMailbox("example.com", "info", "ORQ_PASSWORD=Info-secret-1");
    serveMailbox("example.com", "six", "ORQ_CRYPTED_PASSWORD=" + crypted("6", "Six-secret-6"));
    serveMailbox("example.com", "one", "ORQ_CRYPTED_PASSWORD=" + crypted("1", "One-secret-1"));
    for (const char* mailname : {"info", "six", "one"})
        send(mailname, std::string("For ") + mailname);
    waitForDelivery({{domainHome + "/info/Maildir/new", 1},
                     {domainHome + "/six/Maildir/new", 1},
                     {domainHome + "/one/Maildir/new", 1}});
    // A domain alias added after the mailbox; example.net came before it.
    panelSql("INSERT INTO domainaliases (name, dom_id) SELECT 'example.info', id FROM domains "
             "WHERE name='example.com'");
    ok({"--add-domain-alias", "--domain-name=example.com", "--domain-alias-name=example.info",
        "--set-reject"});

    // Refused logins wait in parallel, so each batch costs Courier's delay once.
    EXPECT_EQ(check("imap info@example.com Info-secret-1\n"
                    "pop3 info@example.com Info-secret-1\n"
                    "imap info@example.info Info-secret-1\n"
                    "pop3 info@example.net Info-secret-1\n"
                    "imap INFO@Example.COM Info-secret-1\n"
                    "imap six@example.com Six-secret-6\n"
                    "pop3 one@example.com One-secret-1\n"
                    "imap info@example.com Six-secret-6\n"
                    "imap nobody@example.com Info-secret-1\n"),
              (std::vector<std::string>{"ok 1 For info", "ok 1 For info", "ok 1 For info",
                                        "ok 1 For info", "ok 1 For info", "ok 1 For six",
                                        "ok 1 For one", "refused", "refused"}));
    // A switched-off domain refuses its aliases' logins too.
    ok({"--turn-off-domain", "--domain-name=example.com"});
    EXPECT_EQ(check("imap info@example.info Info-secret-1\npop3 info@example.net Info-secret-1\n"),
              (std::vector<std::string>{"refused", "refused"}));
    ok({"--turn-on-domain", "--domain-name=example.com"});

    // Every program the command starts, and their arguments.
    const CommandResult traced = runCommand(
        {"/usr/bin/strace", "-f", "-qq", "-e", "trace=execve", "-s", "4096", "-o", "/dev/stdout",
         VORNCTL_BINARY, "--set-password", "--domain-name=example.com", "--mailname=info"},
        {"ORQ_PASSWORD=Changed-secret"});
    EXPECT_EQ(traced.status, 0) << traced.err;
    EXPECT_NE(traced.out.find("execve("), std::string::npos);
    EXPECT_EQ(traced.out.find("Changed-secret"), std::string::npos) << traced.out;
    EXPECT_EQ(traced.err, "");
    // One Courier component stops alone.
    ok({"--stop-service", "--mail-component=imap"});
    EXPECT_TRUE(becomesListening(143, false));
    const std::vector<std::string> afterStop =
        check("imap info@example.com Changed-secret\npop3 info@example.com Changed-secret\n");
    ASSERT_EQ(afterStop.size(), 2u);
    EXPECT_EQ(afterStop[0].rfind("error", 0), 0u) << afterStop[0];
    EXPECT_EQ(afterStop[1], "ok 1 For info");

    // Without one package's script the other daemons are still governed.
    ASSERT_EQ(::rename("/etc/init.d/courier-pop-ssl", "/etc/courier-pop-ssl.away"), 0);
    const CommandResult partial =
        runVornctl({"--restart-service", "--mail-component=pop3s", "--mail-component=imap"});
    ASSERT_EQ(::rename("/etc/courier-pop-ssl.away", "/etc/init.d/courier-pop-ssl"), 0);
    EXPECT_EQ(partial.status, 1);
    EXPECT_NE(
        partial.err.find("Unable to find start/stop script for '/etc/init.d/courier-pop-ssl'"),
        std::string::npos)
        << partial.err;
    EXPECT_TRUE(becomesListening(143, true));

    // Courier's daemon reads the database as root: it keeps its owner and mode.
    EXPECT_EQ(shellOutput("stat -c '%U %g %a' " + authDatabase), "postfix 0 460\n");

    // The passwords live in the authentication database only.
    const std::string seen =
        readFile(maillog) + shellOutput("cat /etc/courier/* /etc/courier-imap/* 2>/dev/null");
    for (const std::string& password : passwords)
        EXPECT_EQ(seen.find(password), std::string::npos) << password;
}

// The submission service relays for clients that logged in over TLS, and
// --smtpauth opens port 25 to them, all through Courier's authentication.
TEST_F(MailAccessTest, SmtpAuthRelaysOnlyForLoggedInClients) {
    // A module someone else chose stays; only --force replaces it.
    const std::string authdaemonrc = "/etc/courier/authdaemonrc";
    ASSERT_EQ(shell("sed -i 's/^authmodulelist=.*/authmodulelist=\"authuserdb\"/' " + authdaemonrc),
              0);
    const CommandResult refused = runSetup();
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("authmodulelist is \"authuserdb\""), std::string::npos)
        << refused.err;
    EXPECT_NE(readFile(authdaemonrc).find("\nauthmodulelist=\"authuserdb\"\n"), std::string::npos);
    ASSERT_EQ(runSetup({"--force"}).status, 0);
    EXPECT_NE(readFile(authdaemonrc).find("\nauthmodulelist=\"authsqlite\"\n"), std::string::npos);

    serveMailbox("example.com", "info", "ORQ_PASSWORD=Info-secret-1");
    serveMailbox("example.org", "off", "ORQ_PASSWORD=Off-secret");
    // A user the panel switched off.
    serveMailbox("example.com", "held", "ORQ_PASSWORD=Off-secret");
    authSql("UPDATE users SET status = 1 WHERE name = 'held'");
    ok({"--turn-off-domain", "--domain-name=example.org"});
    // The administrator's own certificate and key, named together.
    ASSERT_EQ(shell("openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=mail.example.com "
                    "-keyout /etc/ssl/private/panel.key -out /etc/ssl/certs/panel.pem 2>/dev/null"),
              0);
    EXPECT_EQ(runSetup({"--tls-cert=/etc/ssl/certs/panel.pem"}).status, 1);
    EXPECT_EQ(runSetup({"--force", "--tls-cert=/etc/ssl/certs/missing.pem",
                        "--tls-key=/etc/ssl/private/panel.key"})
                  .status,
              1);
    EXPECT_EQ(postconf("smtpd_tls_cert_file"), "/etc/postfix/vornctl-smtpd.pem");
    EXPECT_EQ(runSetup({"--force", "--tls-cert=/etc/ssl/certs/panel.pem",
                        "--tls-key=/etc/ssl/private/panel.key"})
                  .status,
              0);
    EXPECT_EQ(postconf("smtpd_tls_cert_file") + " " + postconf("smtpd_tls_key_file"),
              "/etc/ssl/certs/panel.pem /etc/ssl/private/panel.key");

    setMisc("message_submission", "true");
    ok({"--start-service", "--mail-component=submission"});
    ASSERT_TRUE(becomesListening(587, true));

    EXPECT_EQ(
        check("submit 587 info@example.com Info-secret-1 friend@remote.example\n"
              "submit 587 info@example.com Wrong-secret friend@remote.example\n"
              "submit 587 held@example.com Off-secret friend@remote.example\n"
              "submit 587 off@example.org Off-secret friend@remote.example\n"
              "anonymous 587 friend@remote.example\n"
              "plaintext-auth 587 info@example.com Info-secret-1\n"),
        (std::vector<std::string>{"sent", "auth 535", "auth 535", "auth 535", "rcpt 554", "530"}));
    EXPECT_TRUE(logShows("to=<friend@remote.example>"));

    // Port 25 relays for logged-in clients once SMTP AUTH is on.
    ok({"--set-mail-params", "--smtpauth"});
    ok({"--reload-service", "--mail-component=mta"});
    ASSERT_TRUE(waitUntil(authDaemonAnswers, 10));
    EXPECT_EQ(check("submit 25 info@example.com Info-secret-1 friend@remote.example\n"
                    "anonymous 25 friend@remote.example\n"),
              (std::vector<std::string>{"sent", "rcpt 554"}));

    setMisc("message_submission", "false");
    ok({"--stop-service", "--mail-component=submission"});
    EXPECT_TRUE(becomesListening(587, false));
    for (const std::string& password : passwords)
        EXPECT_EQ(readFile(maillog).find(password), std::string::npos);
}

} // namespace
} // namespace korvo::test
