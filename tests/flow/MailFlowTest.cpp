// Real messages through the real Postfix land where the tool's tables and
// .qmail files say, or are refused at the door.
#include "flow/MailServerFixture.h"

#include <algorithm>
#include <filesystem>

namespace korvo::test {
namespace {

const std::string domainHome = mailRoot + "/example.com";
const std::string infoNew = domainHome + "/info/Maildir/new";
const std::string salesNew = domainHome + "/sales/Maildir/new";

// The subjects of the messages in a Maildir's new/, sorted, one a line.
std::string subjectsIn(const std::string& maildirNew) {
    return shellOutput("grep -h -m 1 '^Subject: ' " + maildirNew +
                       "/* | cut -c 10- | LC_ALL=C sort");
}

std::string message(const std::string& subject, const std::string& body = "Hello.\n") {
    return "From: friend@remote.example\nSubject: " + subject + "\n\n" + body;
}

// The top directory of the clone ("/work" of /work/main/build/...).
std::string cloneTop() {
    const std::string path = std::filesystem::canonical(setupBinary).string();
    return path.substr(0, path.find('/', 1));
}

// Every program master.cf runs as popuser (argv=...) and the autoresponder
// hook's target, which the agent starts as popuser.
std::vector<std::string> programsRunAsPopuser() {
    return lines(shellOutput("grep ' user=popuser ' /etc/postfix/master.cf | grep -o 'argv=[^ ]*' "
                             "| cut -c 6-; readlink /usr/local/orq/handlers/hooks/autoresponder"));
}

// The clone lies below a directory popuser cannot enter, as a clone under
// /root does (in a throw-away overlay: the real directory keeps its mode);
// Postfix must find everything it runs as popuser elsewhere.
class MailFlowTest : public MailServerTest {
protected:
    void SetUp() override {
        MailServerTest::SetUp();
        privateLayer(cloneTop(), "closed-clone");
        cloneClosed = !HasFatalFailure();
        ASSERT_EQ(0, shell("chmod 0700 " + cloneTop()));
        ASSERT_NE(0, shell("runuser -u popuser -- test -x " + agentBinary));
        startMailServer({"--force"}, [] {
            const std::vector<std::string> programs = programsRunAsPopuser();
            EXPECT_NE(programs.end(), std::find(programs.begin(), programs.end(), installedAgent));
            for (const std::string& program : programs) {
                EXPECT_NE(0u, program.rfind(cloneTop() + "/", 0)) << program;
                EXPECT_EQ(0, shell("runuser -u popuser -- test -x " + program)) << program;
            }
        });
    }

    void TearDown() override {
        MailServerTest::TearDown();
        if (cloneClosed)
            shell("umount -l " + cloneTop() + " && umount -l /run/vornctl-closed-clone");
    }

    bool cloneClosed = false;
};

TEST_F(MailFlowTest, MessagesLandWhereTheToolSaysOrAreRefused) {
    addDomain("example.com", {"example.net"});
    addMailname("example.com", "info", {"contact"});
    addMailname("example.com", "sales");
    addMailname("example.com", "off");
    const std::string domain = "--domain-name=example.com";
    const std::vector<std::vector<std::string>> commands = {
        {"--add-domain", domain},
        {"--add-domain-alias", domain, "--domain-alias-name=example.net", "--set-reject"},
        {"--add-mailname", domain, "--mailname=info"},
        {"--add-mailname", domain, "--mailname=sales"},
        {"--add-mailname", domain, "--mailname=off"},
        {"--add-mailbox", domain, "--mailname=info"},
        {"--add-mailbox", domain, "--mailname=sales"},
        {"--add-alias", domain, "--mailname=info", "--alias=contact"},
        {"--add-redirect", domain, "--mailname=info", "--redirect-email=sales@example.com"},
        {"--set-catchall", domain, "--email=sales@example.com"},
        {"--add-badmailfrom", "--domain-name=spam.example"},
        {"--set-mailbox-disk-quota", domain, "--mailname=info", "--disk-quota=20000"}};
    for (const std::vector<std::string>& command : commands)
        vornctl(command);

    EXPECT_EQ(0, sendmail("contact@example.com", message("to the mail alias")).status);
    for (const auto& [recipient, subject] :
         std::vector<std::pair<std::string, std::string>>{{"info@example.com", "to info"},
                                                          {"info@example.net", "to the alias"},
                                                          {"nobody@example.com", "to nobody"},
                                                          {"off@example.com", "to off"}})
        EXPECT_EQ(
            "250 2.0.0 Ok: queued",
            smtpTransaction("friend@remote.example", recipient, message(subject)).substr(0, 20));
    waitForDelivery({{infoNew, 3}, {salesNew, 4}});
    EXPECT_EQ("to info\nto the alias\nto the mail alias\n", subjectsIn(infoNew));
    // The redirect's copies and the catch-all's message.
    EXPECT_EQ("to info\nto nobody\nto the alias\nto the mail alias\n", subjectsIn(salesNew));
    EXPECT_EQ("", shellOutput("grep -L '^Return-Path: <friend@remote.example>' " + infoNew + "/*"));
    // Postfix handed the message for off to the agent, which stored nothing.
    EXPECT_TRUE(logShows("to=<off@example.com>, relay=korvo"));
    EXPECT_TRUE(entries(domainHome + "/off/Maildir/new").empty());

    // Over the quota the sender gets a bounce, and the redirect after deliverquota never runs.
    EXPECT_EQ(0, sendmail("info@example.com", message("too big", std::string(20000, 'x') + "\n"),
                          "sales@example.com")
                     .status);
    waitForDelivery({{salesNew, 5}});
    EXPECT_EQ(3u, entries(infoNew).size());
    EXPECT_EQ("Undelivered Mail Returned to Sender\nto info\nto nobody\nto the alias\n"
              "to the mail alias\n",
              subjectsIn(salesNew));
    EXPECT_TRUE(logShows("status=bounced (service unavailable. Command output: "
                         "Mail quota exceeded"));

    EXPECT_EQ(0u, smtpTransaction("someone@spam.example", "info@example.com")
                      .rfind("554 5.7.1 <someone@spam.example>: Sender address rejected", 0));
}

} // namespace
} // namespace korvo::test
