#include "setup/SetupFixture.h"

namespace korvo::test {
namespace {

const std::string home = mailRoot + "/example.com/info";
const std::string maildirNew = home + "/Maildir/new";
const std::string message = "From: sender@example.org\nSubject: test\n\nHello.\n";

// A mail home for info@example.com laid out and owned as the tool makes it,
// listed in the mailbox table, with deliverquota linked.
class DeliverTest : public SandboxTest {
protected:
    void SetUp() override {
        SandboxTest::SetUp();
        privateUsrBin();
        ASSERT_EQ(0, shell("mkdir -p " + home + "/Maildir/tmp " + maildirNew + " " + home +
                           "/Maildir/cur && chown root:popuser " + mailRoot + " " + mailRoot +
                           "/example.com && chmod 0750 " + mailRoot + " " + mailRoot +
                           "/example.com && chown -R popuser:popuser " + home +
                           " && chmod -R 0700 " + home +
                           " && echo 'info@example.com example.com/info/Maildir/' | "
                           "postmap -r -i hash:/var/spool/postfix/korvo/vmailbox && "
                           "ln -s /usr/sbin/deliverquota.maildrop /usr/bin/deliverquota"));
    }

    static void writeDotQmail(const std::string& content) {
        writeFile(home + "/.qmail", content);
        ASSERT_EQ(0, shell("chown popuser:popuser " + home + "/.qmail && chmod 0600 " + home +
                           "/.qmail"));
    }

    // Runs the agent as Postfix's pipe transport would: as popuser.
    static CommandResult deliver(const std::string& recipient = "info@example.com",
                                 const std::vector<std::string>& environment = {}) {
        return runCommand({"/usr/bin/setpriv", "--reuid=popuser", "--regid=popuser",
                           "--init-groups", agentBinary, "--sender=sender@example.org", "--",
                           recipient},
                          environment, message);
    }
};

TEST_F(DeliverTest, CarriesOutTheLinesInOrderAndTheOutcomeFollowsThem) {
    EXPECT_EQ(75, deliver().status); // no .qmail
    writeDotQmail("# the mailbox\n"
                  "| cat > copy; echo \"$SENDER $RECIPIENT $LOCAL $HOST $HOME\" > env\n"
                  "\n"
                  "./Maildir/  \n"
                  "| /usr/bin/deliverquota ./Maildir\n");
    const CommandResult result = deliver();
    ASSERT_EQ(0, result.status) << result.err;
    EXPECT_EQ(message, readFile(home + "/copy"));
    EXPECT_EQ("sender@example.org info@example.com info example.com " + home + "\n",
              readFile(home + "/env"));
    const std::vector<std::string> delivered = entries(maildirNew);
    ASSERT_EQ(2u, delivered.size());
    // Both deliveries name the size, as Maildir++ readers expect.
    for (const std::string& name : delivered) {
        EXPECT_EQ(message, readFile(maildirNew + "/" + name)) << name;
        EXPECT_NE(std::string::npos, name.find(",S=" + std::to_string(message.size()))) << name;
    }
    EXPECT_TRUE(entries(home + "/Maildir/tmp").empty());

    struct Case {
        const char* dotQmail;
        int status;
        std::size_t stored;
        const char* recipient = "info@example.com";
    };
    const Case cases[] = {
        {"|exit 99\n./Maildir/\n", 0, 0},   // stop with success
        {"|exit 100\n./Maildir/\n", 69, 0}, // bounce
        {"|exit 64\n", 69, 0},              // permanent sysexits code
        {"|exit 111\n./Maildir/\n", 75, 0}, // try again later
        {"|kill -9 $$\n", 75, 0},
        {"./Maildir/\n|exit 1\n", 75, 1}, // stored, then deferred
        {"./Maildir/\n", 67, 0, "nobody@example.com"},
        {"./Maildir/\n", 0, 1, "info@EXAMPLE.com"},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(0, shell("rm -f " + maildirNew + "/*"));
        writeDotQmail(c.dotQmail);
        const CommandResult run = deliver(c.recipient);
        EXPECT_EQ(c.status, run.status) << c.dotQmail << c.recipient << run.err;
        EXPECT_EQ(c.stored, entries(maildirNew).size()) << c.dotQmail << c.recipient;
    }
    // What the agent cannot follow waits for someone to fix it.
    for (const char* dotQmail : {"!program\n", "./mbox\n", "./../other/Maildir/\n",
                                 "/var/tmp/Maildir/\n", "&\n", "# only a comment\n", ""}) {
        writeDotQmail(dotQmail);
        const CommandResult run = deliver();
        EXPECT_EQ(75, run.status) << dotQmail;
        EXPECT_EQ(0u, run.err.rfind("vornctl-deliver: ", 0)) << dotQmail << run.err;
    }
}

TEST_F(DeliverTest, ForwardsLeaveOnceThroughSendmailWithTheSender) {
    writeDotQmail("&other@example.com\n./Maildir/\nthird@example.net\n");
    ASSERT_EQ(0, shell(sandboxFile("postfix-prepare")));
    // A failing sendmail defers the whole delivery (the Maildir copy is made again).
    EXPECT_EQ(75, deliver("info@example.com", {"MAIL_CONFIG=/nonexistent"}).status);
    EXPECT_TRUE(entries("/var/spool/postfix/maildrop").empty());

    ASSERT_EQ(0, shell("rm -f " + maildirNew + "/*"));
    const CommandResult result = deliver();
    ASSERT_EQ(0, result.status) << result.err;
    EXPECT_EQ(1u, entries(maildirNew).size());
    const std::vector<std::string> queued = entries("/var/spool/postfix/maildrop");
    ASSERT_EQ(1u, queued.size());
    const std::string queueFile = shellOutput("postcat /var/spool/postfix/maildrop/" + queued[0]);
    for (const char* line : {"sender: sender@example.org", "recipient: other@example.com",
                             "recipient: third@example.net"})
        EXPECT_NE(std::string::npos, queueFile.find(line)) << queueFile;
}

TEST_F(DeliverTest, FallsBackToTheLayoutAndFollowsNoLink) {
    // With the table closed to the mail account, an existing home still
    // gets its mail, a missing one waits.
    writeDotQmail("./Maildir/\n");
    ASSERT_EQ(0, shell("chmod 0700 /var/spool/postfix/korvo"));
    EXPECT_EQ(0, deliver().status);
    EXPECT_EQ(75, deliver("nobody@example.com").status);
    EXPECT_EQ(1u, entries(maildirNew).size());

    // A link planted for new/ is not followed.
    ASSERT_EQ(0, shell("mkdir -p -m 0777 /var/tmp/planted && rm -rf " + maildirNew + " && ln -s " +
                       "/var/tmp/planted " + maildirNew + " && chown -h popuser " + maildirNew));
    EXPECT_EQ(75, deliver().status);
    EXPECT_TRUE(entries("/var/tmp/planted").empty());

    // Nor a .qmail that is a link, to a .qmail that would store the message.
    ASSERT_EQ(0, shell("rm -f " + maildirNew + " && mkdir " + maildirNew + " && chown popuser " +
                       maildirNew + " && mv " + home + "/.qmail " + home + "/real && ln -s real " +
                       home + "/.qmail && chown -h popuser " + home + "/.qmail"));
    EXPECT_EQ(75, deliver().status);
    EXPECT_TRUE(entries(maildirNew).empty());

    // A home the mail account cannot enter.
    ASSERT_EQ(0, shell("rm " + home + "/.qmail && mv " + home + "/real " + home +
                       "/.qmail && chown root " + home));
    EXPECT_EQ(75, deliver().status);
}

} // namespace
} // namespace korvo::test
