#include "setup/SetupFixture.h"

#include <algorithm>
#include <filesystem>

namespace korvo::test {
namespace {

const std::string home = mailRoot + "/example.com/info";
const std::string maildirNew = home + "/Maildir/new";
const std::string message = "From: sender@example.org\nSubject: test\n\nHello.\n";

std::vector<std::string> entries(const std::string& directory) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(directory, error))
        names.push_back(entry.path().filename());
    return names;
}

// A mail home for info@example.com laid out and owned as the tool makes it,
// listed in the mailbox table, with deliverquota linked.
class DeliverTest : public SandboxTest {
protected:
    void SetUp() override {
        SandboxTest::SetUp();
        privateUsrBin();
        ASSERT_EQ(0, shell("mkdir -p " + home + "/Maildir/tmp " + home + "/Maildir/new " + home +
                           "/Maildir/cur && chown root:popuser " + mailRoot + " " + mailRoot +
                           "/example.com && chmod 0750 " + mailRoot + " " + mailRoot +
                           "/example.com && chown -R popuser:popuser " + home +
                           " && chmod -R 0700 " + home));
        ASSERT_EQ(0, shell("echo 'info@example.com example.com/info/Maildir/' | "
                           "postmap -r -i hash:/var/spool/postfix/korvo/vmailbox"));
        ASSERT_EQ(0, shell("ln -s /usr/sbin/deliverquota.maildrop /usr/bin/deliverquota"));
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

TEST_F(DeliverTest, CarriesOutProgramAndMaildirLinesInOrder) {
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
    for (const std::string& name : delivered)
        EXPECT_EQ(message, readFile(maildirNew + "/" + name)) << name;
    // Both deliveries name the size, as Maildir++ readers expect.
    EXPECT_EQ(2, std::count_if(delivered.begin(), delivered.end(), [](const std::string& name) {
                  return name.find(",S=" + std::to_string(message.size())) != std::string::npos;
              }));
    EXPECT_TRUE(entries(home + "/Maildir/tmp").empty());
    EXPECT_EQ("popuser\n", shellOutput("stat -c %U " + maildirNew + "/" + delivered[0]));
}

TEST_F(DeliverTest, ProgramExitStatusDecidesTheOutcome) {
    struct Case {
        const char* dotQmail;
        int status;
        std::size_t stored;
    };
    const Case cases[] = {
        {"|exit 99\n./Maildir/\n", 0, 0},   // stop with success
        {"|exit 100\n./Maildir/\n", 69, 0}, // bounce
        {"|exit 64\n", 69, 0},              // permanent sysexits code
        {"|exit 111\n./Maildir/\n", 75, 0}, // try again later
        {"|kill -9 $$\n", 75, 0},           // killed
        {"./Maildir/\n|exit 1\n", 75, 1},   // stored, then deferred
    };
    for (const Case& c : cases) {
        ASSERT_EQ(0, shell("rm -f " + maildirNew + "/*"));
        writeDotQmail(c.dotQmail);
        const CommandResult result = deliver();
        EXPECT_EQ(c.status, result.status) << c.dotQmail << result.err;
        EXPECT_EQ(c.stored, entries(maildirNew).size()) << c.dotQmail;
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
    EXPECT_NE(std::string::npos, queueFile.find("sender: sender@example.org")) << queueFile;
    EXPECT_NE(std::string::npos, queueFile.find("recipient: other@example.com")) << queueFile;
    EXPECT_NE(std::string::npos, queueFile.find("recipient: third@example.net")) << queueFile;
}

TEST_F(DeliverTest, DefersWhatItCannotFollowAndFollowsNoLink) {
    EXPECT_EQ(75, deliver().status); // no .qmail
    for (const char* dotQmail : {"!program\n", "./mbox\n", "./../other/Maildir/\n",
                                 "/var/tmp/Maildir/\n", "&\n", "# only a comment\n", ""}) {
        writeDotQmail(dotQmail);
        const CommandResult result = deliver();
        EXPECT_EQ(75, result.status) << dotQmail;
        EXPECT_NE(std::string::npos, result.err.find("vornctl-deliver: ")) << dotQmail;
    }

    // A link planted for new/ is not followed.
    ASSERT_EQ(0, shell("mkdir -p -m 0777 /var/tmp/planted && rmdir " + maildirNew + " && ln -s " +
                       "/var/tmp/planted " + maildirNew + " && chown -h popuser " + maildirNew));
    writeDotQmail("./Maildir/\n");
    EXPECT_EQ(75, deliver().status);
    EXPECT_TRUE(entries("/var/tmp/planted").empty());
    EXPECT_TRUE(entries(home + "/Maildir/tmp").empty());

    // Nor a .qmail that is a link.
    ASSERT_EQ(0, shell("mv " + home + "/.qmail " + home + "/real && ln -s real " + home +
                       "/.qmail && chown -h popuser " + home + "/.qmail"));
    EXPECT_EQ(75, deliver().status);

    // A home the mail account cannot enter.
    ASSERT_EQ(0, shell("chown root " + home));
    EXPECT_EQ(75, deliver().status);
}

TEST_F(DeliverTest, MailboxTableDecidesWhoHasAMailbox) {
    writeDotQmail("./Maildir/\n");
    EXPECT_EQ(67, deliver("nobody@example.com").status);
    EXPECT_EQ(0, deliver("info@EXAMPLE.com").status);

    // With the table closed to the mail account, the home follows the
    // layout: an existing home still gets its mail, a missing one waits.
    ASSERT_EQ(0, shell("chmod 0700 /var/spool/postfix/korvo"));
    EXPECT_EQ(0, deliver().status);
    EXPECT_EQ(75, deliver("nobody@example.com").status);
    EXPECT_EQ(2u, entries(maildirNew).size());
}

} // namespace
} // namespace korvo::test
