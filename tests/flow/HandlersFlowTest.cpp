// Handlers with the real Postfix. The filter and the hook run as popuser,
// so they run from copies in /usr/local.
#include "flow/MailServerFixture.h"

namespace korvo::test {
namespace {

const std::string programs = "/usr/local/libexec/vornctl-test";
const std::string filterCopy = programs + "/vornctl-filter";
const std::string autoresponderCopy = programs + "/vornctl-autoresponder";
const std::string remoteCopy = programs + "/vornctl-remote";
const std::string home = mailRoot + "/example.com";
const std::string seenLog = "/var/tmp/handler-seen";

void addHandler(const std::string& name, const std::string& type, const std::string& value,
                const std::string& hook, const std::string& body) {
    vornctl({"--add-handler", "--handler-name=" + name, "--handler-type=" + type,
             "--handler-type-name=" + value,
             "--executable=" + writeScript(programs + "/" + name, body), "--context=flow",
             "--hook=" + hook, "--priority=10"});
}

// A message from outside mynetworks: the reply to the end of DATA, or the
// first reply that went wrong.
std::string send(const std::string& sender, const std::string& recipient,
                 const std::string& headers, const std::string& body = "Hello.") {
    return smtpTransaction(sender, recipient, headers + "\n\n" + body + "\n");
}

// Every message of a mailbox's Maildir/new, concatenated.
std::string mailbox(const std::string& mailname) {
    return shellOutput("cat " + home + "/" + mailname + "/Maildir/new/* 2>/dev/null");
}

std::size_t count(const std::string& text, const std::string& what) {
    std::size_t found = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++found;
    return found;
}

// Waits until the queue is empty and the mailbox holds at least n messages.
void waitForMessages(const std::string& mailname, std::size_t n) {
    waitForDelivery({{home + "/" + mailname + "/Maildir/new", n}});
}

class HandlersFlowTest : public MailServerTest {
protected:
    void SetUp() override {
        MailServerTest::SetUp();
        ASSERT_EQ(0, shell("mkdir -p " + programs +
                           " && install -m 0755 " VORNCTL_FILTER_BINARY
                           " " VORNCTL_AUTORESPONDER_BINARY " " VORNCTL_REMOTE_BINARY " " +
                           programs + " && rm -f " + seenLog));
        // The tool's own smtp service, in place of Debian's.
        startMailServer({"--force", "--filter=" + filterCopy,
                         "--autoresponder=" + autoresponderCopy,
                         "--remote-transport=" + remoteCopy},
                        [] { ASSERT_EQ(0, shell("postconf -MX smtp/inet")); });
        if (HasFatalFailure())
            return;
        vornctl({"--start-service", "--mail-component=smtp"});

        serveDomain("example.com");
        for (const char* name : {"info", "sales"})
            serveMailbox("example.com", name);
        ASSERT_TRUE(waitUntil(
            [] {
                return send("a@remote.example", "info@example.com", "Subject: warm-up")[0] == '2';
            },
            30));
        waitForMessages("info", 1);
    }
};

TEST_F(HandlersFlowTest, BeforeQueueHandlersRefuseOrChangeMailAtTheDoor) {
    addHandler(
        "nospam", "recipient-domain", "example.com", "before-queue",
        "message=$(cat)\n"
        "case \"$message\" in *'Subject: spam'*) echo '554 5.7.1 no spam here'; exit 100;; esac\n"
        "printf 'X-Checked: %s\\n%s\\n' \"$HANDLER_CONTEXT\" \"$message\" >&3");
    EXPECT_EQ("554 5.7.1 no spam here",
              send("a@remote.example", "info@example.com", "Subject: spam"));
    EXPECT_EQ(0u,
              send("a@remote.example", "info@example.com", "Subject: fine", ".leading dot\nbody")
                  .rfind("250 ", 0));
    waitForMessages("info", 2);
    const std::string box = mailbox("info");
    EXPECT_EQ(0u, count(box, "Subject: spam"));
    EXPECT_EQ(1u, count(box, "X-Checked: flow\n"));
    // The dot a client doubles arrives single.
    EXPECT_EQ(1u, count(box, "\n.leading dot\n")) << box;
}

// A handler that fails for now holds the message in the queue until it passes.
TEST_F(HandlersFlowTest, BeforeLocalHandlersDeferWithoutLosingMail) {
    addHandler("busy", "recipient", "sales@example.com", "before-local", "echo busy; exit 111");
    EXPECT_EQ(0u, send("a@remote.example", "info@example.com", "Subject: other").rfind("250 ", 0));
    EXPECT_EQ(0u, send("a@remote.example", "sales@example.com", "Subject: held").rfind("250 ", 0));
    EXPECT_TRUE(waitUntil([] { return entries(home + "/info/Maildir/new").size() == 2; }, 30));
    EXPECT_TRUE(logShows("status=deferred"));
    EXPECT_TRUE(logShows("vornctl-deliver: busy"));
    EXPECT_TRUE(entries(home + "/sales/Maildir/new").empty());
    vornctl({"--disable-handler", "--handler-name=busy", "--handler-type=recipient",
             "--handler-type-name=sales@example.com", "--hook=before-local"});
    ASSERT_EQ(0, shell("postqueue -f"));
    waitForMessages("sales", 1);
}

// The hook installed as popuser reads the panel, attaches the stored file
// and replies through Postfix once per sender; bounces get none.
TEST_F(HandlersFlowTest, TheAutoresponderAnswersOncePerSenderAndNeverABounce) {
    panelSql("INSERT INTO mail_resp (mn_id, subject, text, resend_interval) SELECT id, 'Away', "
             "'I am away.', 3600 FROM mail WHERE mail_name = 'info';"
             "INSERT INTO mail_resp_files (mn_id, file_name) SELECT id, 'plan.txt' FROM mail "
             "WHERE mail_name = 'info'");
    writeFile("/tmp/plan.txt", "the plan\n");
    const std::string info[] = {"--domain-name=example.com", "--mailname=info"};
    vornctl({"--add-attachment", info[0], info[1], "--file-name=/tmp/plan.txt",
             "--attachment-file-name=plan.txt"});
    vornctl({"--set-autoresponder", info[0], info[1]});
    for (const char* id : {"<m1@example.com>", "<m2@example.com>"})
        EXPECT_EQ(0u, send("sales@example.com", "info@example.com",
                           std::string("Subject: question\nMessage-ID: ") + id)
                          .rfind("250 ", 0));
    EXPECT_EQ(0u, send("", "info@example.com", "Subject: bounce").rfind("250 ", 0));
    waitForMessages("info", 4);
    waitForMessages("sales", 1);
    const std::string reply = mailbox("sales");
    for (const char* part : {"Subject: Away\n", "In-Reply-To: <m1@example.com>\n",
                             "Return-Path: <>\n", "dGhlIHBsYW4K"}) // the plan, base64
        EXPECT_EQ(1u, count(reply, part)) << reply;
}

TEST_F(HandlersFlowTest, BeforeRemoteHandlersSeeMailLeaveOrBounceIt) {
    // Mail for other hosts goes the way setup routes it (the fixture
    // discards it); what comes back goes to the relay host, where nothing
    // listens.
    ASSERT_EQ(0, shell("postconf -e default_transport=korvo-remote relay_transport=korvo-remote "
                       "relayhost=[127.0.0.1]:2999 && postfix reload >/dev/null 2>&1"));
    addHandler("outbound", "sender-domain", "example.com", "before-remote",
               "echo \"$HANDLER_SENDER $HANDLER_RECIPIENTS\" >> " + seenLog +
                   "\nif grep -q '^Subject: secret'; then echo 'no secrets leave'; exit 100; fi");
    for (const char* subject : {"Subject: hello out", "Subject: secret"})
        EXPECT_EQ(0, sendmail("friend@remote.example", std::string(subject) + "\n\nHi.\n",
                              "info@example.com")
                         .status);
    // A local part that needs quotes goes on quoted, one in UTF-8 with
    // SMTPUTF8, each beside an ordinary one.
    EXPECT_EQ(0, runCommand({"/usr/sbin/sendmail", "-i", "-f", "info@example.com",
                             "\"john doe\"@remote.example", "jörg@remote.example",
                             "friend@remote.example"},
                            {}, "Subject: hello all\n\nHi.\n")
                     .status);
    // The first and the third leave through the smtp client, the second
    // comes back to its sender.
    EXPECT_TRUE(logShows("to=<\"john doe\"@remote.example>, relay=none"));
    EXPECT_TRUE(logShows("to=<jörg@remote.example>, relay=none"));
    EXPECT_TRUE(logShows("connect to 127.0.0.1[127.0.0.1]:2999: Connection refused"));
    EXPECT_TRUE(waitUntil([] { return entries(home + "/info/Maildir/new").size() == 2; }, 30));
    EXPECT_NE(std::string::npos, mailbox("info").find("no secrets leave"));
    const std::string seen = readFile(seenLog);
    EXPECT_EQ(3u, count(seen, "info@example.com friend@remote.example\n")) << seen;
}

} // namespace
} // namespace korvo::test
