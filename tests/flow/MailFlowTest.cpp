// The whole tool at work: the setup program prepares the sandbox's real
// Postfix, vornctl alone then sets up a domain the way the panel would (the
// panel's rows first), and real messages, sent with Postfix's sendmail and
// over SMTP from a client on the loopback network, must land where the
// tool's tables and .qmail files say: in Maildir/new through the delivery
// agent and the real deliverquota, or nowhere, refused at the door.
#include "front/CommandFixture.h"
#include "sandbox/PanelDatabase.h"
#include "setup/SetupFixture.h"

#include <algorithm>
#include <chrono>
#include <dirent.h>
#include <thread>

namespace korvo::test {
namespace {

const std::string domainHome = mailRoot + "/example.com";
const std::string infoNew = domainHome + "/info/Maildir/new";
const std::string salesNew = domainHome + "/sales/Maildir/new";
// A client outside mynetworks: mail from the Internet.
const char* const foreignClient = "127.0.0.2";
const std::string quotaBytes = "20000";

std::vector<std::string> filesIn(const std::string& directory) {
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(directory.c_str())) {
        while (const dirent* entry = ::readdir(dir))
            if (entry->d_name[0] != '.')
                names.emplace_back(entry->d_name);
        ::closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string headerOf(const std::string& message, const std::string& name) {
    const std::size_t at = message.find("\n" + name + ": ");
    if (at == std::string::npos)
        return "";
    const std::size_t start = at + name.size() + 3;
    return message.substr(start, message.find('\n', start) - start);
}

// The subjects of the messages in a Maildir's new/, sorted.
std::vector<std::string> subjectsIn(const std::string& maildirNew) {
    std::vector<std::string> subjects;
    for (const std::string& name : filesIn(maildirNew))
        subjects.push_back(headerOf(readFile(maildirNew + "/" + name), "Subject"));
    std::sort(subjects.begin(), subjects.end());
    return subjects;
}

long long bytesIn(const std::string& maildirNew) {
    long long total = 0;
    for (const std::string& name : filesIn(maildirNew))
        total += statOf(maildirNew + "/" + name).st_size;
    return total;
}

// What du counts for a mail home's attachments store, the directory itself
// included.
long long attachmentsBytes(const std::string& mailname) {
    const CommandResult du =
        runCommand({"/usr/bin/du", "-s", "-b", domainHome + "/" + mailname + "/@attachments"});
    EXPECT_EQ(0, du.status) << du.err;
    return std::stoll(du.out);
}

std::string message(const std::string& subject, const std::string& body = "Hello.\n") {
    return "From: friend@remote.example\nSubject: " + subject + "\n\n" + body;
}

bool queueEmpty() {
    return runCommand({"/usr/sbin/postqueue", "-p"}).out.find("Mail queue is empty") !=
           std::string::npos;
}

class MailFlowTest : public PanelDatabaseTest {
protected:
    void SetUp() override {
        PanelDatabaseTest::SetUp();
        if (HasFatalFailure())
            return;
        privateUsrBin();
        const CommandResult setup = runSetup({"--force"});
        ASSERT_EQ(0, setup.status) << setup.out << setup.err;
        preparePostfix();
        ASSERT_EQ(0, shell("env -i LANG=C /etc/init.d/postfix start >/dev/null 2>&1"));
        setUpDomain();
    }

    void TearDown() override { stopPostfix(); }

    // Runs vornctl and expects it to succeed silently.
    static void vornctl(const std::vector<std::string>& args,
                        const std::vector<std::string>& env = {}) {
        const CommandResult result = runVornctl(args, env);
        ASSERT_EQ(0, result.status) << args[0] << "\n" << result.out << result.err;
        EXPECT_EQ("", result.err) << args[0];
    }

    // example.com with the domain alias example.net; the mailboxes info
    // (mail alias contact, a redirect to sales, a quota) and sales; the
    // mailname off without a mailbox; unknown names caught by sales; mail
    // from spam.example refused.
    void setUpDomain() {
        addDomain("example.com", {"example.net"});
        addMailname("example.com", "info", {"contact"});
        addMailname("example.com", "sales");
        addMailname("example.com", "off");
        vornctl({"--add-domain", "--domain-name=example.com"});
        vornctl({"--add-domain-alias", "--domain-name=example.com",
                 "--domain-alias-name=example.net", "--set-reject"});
        for (const char* name : {"info", "sales", "off"})
            vornctl(
                {"--add-mailname", "--domain-name=example.com", std::string("--mailname=") + name});
        for (const char* name : {"info", "sales"})
            vornctl(
                {"--add-mailbox", "--domain-name=example.com", std::string("--mailname=") + name},
                {"ORQ_PASSWORD=secret"});
        vornctl({"--add-alias", "--domain-name=example.com", "--mailname=info", "--alias=contact"});
        vornctl({"--add-redirect", "--domain-name=example.com", "--mailname=info",
                 "--redirect-email=sales@example.com"});
        vornctl({"--set-catchall", "--domain-name=example.com", "--email=sales@example.com"});
        vornctl({"--add-badmailfrom", "--domain-name=spam.example"});
        vornctl({"--set-mailbox-disk-quota", "--domain-name=example.com", "--mailname=info",
                 "--disk-quota=" + quotaBytes});
    }

    static void sendmail(const std::string& sender, const std::string& recipient,
                         const std::string& text) {
        const CommandResult sent =
            runCommand({"/usr/sbin/sendmail", "-i", "-f", sender, recipient}, {}, text);
        ASSERT_EQ(0, sent.status) << sent.err;
    }

    // One SMTP transaction from the foreign client; the reply to RCPT TO,
    // and after a 250 there the reply to the end of DATA.
    static std::string smtp(const std::string& sender, const std::string& recipient,
                            const std::string& text = "") {
        SmtpClient client(foreignClient);
        EXPECT_EQ(0u, client.greeting().rfind("220 ", 0)) << client.greeting();
        client.send("EHLO client.remote.example");
        EXPECT_EQ(0u, client.send("MAIL FROM:<" + sender + ">").rfind("250 ", 0));
        std::string reply = client.send("RCPT TO:<" + recipient + ">");
        if (!text.empty() && reply.rfind("250 ", 0) == 0) {
            EXPECT_EQ(0u, client.send("DATA").rfind("354 ", 0));
            std::string data;
            for (std::size_t start = 0; start < text.size();) {
                const std::size_t end = text.find('\n', start);
                data += text.substr(start, end - start) + "\r\n";
                start = end + 1;
            }
            reply = client.send(data + ".");
        }
        client.send("QUIT");
        return reply;
    }

    // Waits, at most 60 s, until the queue is empty and every directory has
    // its count of messages.
    static void waitForDelivery(const std::vector<std::pair<std::string, std::size_t>>& counts) {
        const auto done = [&counts] {
            for (const auto& [directory, count] : counts)
                if (filesIn(directory).size() < count)
                    return false;
            return queueEmpty();
        };
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (!done() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        ASSERT_TRUE(done()) << runCommand({"/usr/sbin/postqueue", "-p"}).out
                            << readFile("/var/spool/postfix/maillog");
    }

    // Postfix's daemons notice a changed table by its modification time,
    // in whole seconds, so a change made in the second a daemon opened the
    // table can go unseen until it restarts: the panel reloads the mail
    // service after a change, and the refusal must follow within 20 s.
    static std::string refusedAfterReload(const std::string& sender, const std::string& recipient) {
        vornctl({"--reload-service", "--mail-component=mta"});
        std::string reply;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        do {
            reply = smtp(sender, recipient);
            if (reply[0] != '2')
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        } while (std::chrono::steady_clock::now() < deadline);
        return reply;
    }

    static std::string mailboxSize(const std::string& mailname) {
        const CommandResult size = runVornctl(
            {"--get-mailbox-size", "--domain-name=example.com", "--mailname=" + mailname});
        EXPECT_EQ(0, size.status) << size.err;
        return size.out;
    }
};

TEST_F(MailFlowTest, MessagesLandWhereTheToolSays) {
    EXPECT_EQ("| true\n", readFile(domainHome + "/off/.qmail"));
    sendmail("friend@remote.example", "info@example.com", message("to info"));
    sendmail("friend@remote.example", "contact@example.com", message("to the mail alias"));
    sendmail("friend@remote.example", "off@example.com", message("to the mailname off"));
    EXPECT_EQ("250 2.0.0 Ok: queued",
              smtp("friend@remote.example", "info@example.net", message("to the domain alias"))
                  .substr(0, 20));
    EXPECT_EQ("250 2.0.0 Ok: queued",
              smtp("friend@remote.example", "nobody@example.com", message("to an unknown name"))
                  .substr(0, 20));
    waitForDelivery({{infoNew, 3}, {salesNew, 4}});

    EXPECT_EQ((std::vector<std::string>{"to info", "to the domain alias", "to the mail alias"}),
              subjectsIn(infoNew));
    // The redirect's copies and the catch-all's message.
    EXPECT_EQ((std::vector<std::string>{"to an unknown name", "to info", "to the domain alias",
                                        "to the mail alias"}),
              subjectsIn(salesNew));
    for (const std::string& name : filesIn(infoNew)) {
        const std::string stored = readFile(infoNew + "/" + name);
        EXPECT_NE(std::string::npos, stored.find("Return-Path: <friend@remote.example>")) << stored;
        EXPECT_EQ("popuser", std::string(::getpwuid(statOf(infoNew + "/" + name).st_uid)->pw_name));
    }
    // Postfix handed the message for off to the agent, which stored nothing.
    EXPECT_NE(std::string::npos,
              readFile("/var/spool/postfix/maillog").find("to=<off@example.com>, relay=korvo"));
    EXPECT_TRUE(filesIn(domainHome + "/off/Maildir/new").empty());
    EXPECT_TRUE(filesIn(domainHome + "/off/Maildir/cur").empty());

    // The size command counts exactly what arrived, and the mailbox's
    // attachments store.
    EXPECT_EQ(std::to_string(bytesIn(infoNew) + attachmentsBytes("info")), mailboxSize("info"));
    EXPECT_EQ(std::to_string(bytesIn(salesNew) + attachmentsBytes("sales")), mailboxSize("sales"));
}

TEST_F(MailFlowTest, RefusedBouncedAndSwitchedOff) {
    // Over the quota: deliverquota refuses, the sender gets the bounce and
    // the redirect after the deliverquota line is never carried out.
    sendmail("sales@example.com", "info@example.com",
             message("too big", std::string(std::stoul(quotaBytes), 'x') + "\n"));
    waitForDelivery({{salesNew, 1}});
    EXPECT_TRUE(filesIn(infoNew).empty());
    ASSERT_EQ(1u, filesIn(salesNew).size());
    const std::string bounce = readFile(salesNew + "/" + filesIn(salesNew)[0]);
    EXPECT_EQ("Undelivered Mail Returned to Sender", headerOf(bounce, "Subject")) << bounce;
    EXPECT_NE(std::string::npos, bounce.find("<info@example.com>")) << bounce;
    const std::string log = readFile("/var/spool/postfix/maillog");
    EXPECT_NE(std::string::npos, log.find("status=bounced (service unavailable. Command output: "
                                          "Mail quota exceeded"))
        << log;

    // A black-listed sender domain is refused at the door.
    const std::string spam = smtp("someone@spam.example", "info@example.com");
    EXPECT_EQ(0u, spam.rfind("554 5.7.1 <someone@spam.example>: Sender address rejected", 0))
        << spam;

    // --set-reject: unknown names are no longer caught.
    EXPECT_EQ("250", smtp("friend@remote.example", "nobody@example.com").substr(0, 3));
    vornctl({"--set-reject", "--domain-name=example.com"});
    const std::string unknown = refusedAfterReload("friend@remote.example", "nobody@example.com");
    EXPECT_EQ("550", unknown.substr(0, 3)) << unknown;

    // --remove-mailname: the address goes with it.
    EXPECT_EQ("250", smtp("friend@remote.example", "off@example.com").substr(0, 3));
    panelSql("DELETE FROM mail WHERE mail_name='off'");
    vornctl({"--remove-mailname", "--domain-name=example.com", "--mailname=off"});
    const std::string removed = refusedAfterReload("friend@remote.example", "off@example.com");
    EXPECT_EQ("550", removed.substr(0, 3)) << removed;

    // --turn-off-domain: nothing is accepted for the domain any more.
    EXPECT_EQ("250", smtp("friend@remote.example", "info@example.com").substr(0, 3));
    vornctl({"--turn-off-domain", "--domain-name=example.com"});
    for (const char* address : {"info@example.com", "contact@example.com", "sales@example.com"}) {
        const std::string reply = refusedAfterReload("friend@remote.example", address);
        EXPECT_TRUE(reply[0] == '4' || reply[0] == '5') << address << ": " << reply;
    }
    waitForDelivery({});
    EXPECT_TRUE(filesIn(infoNew).empty());
    EXPECT_EQ(1u, filesIn(salesNew).size());
    EXPECT_EQ(std::to_string(attachmentsBytes("info")), mailboxSize("info"));
}

} // namespace
} // namespace korvo::test
