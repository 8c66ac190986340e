#include "setup/SetupFixture.h"

#include <sstream>

namespace korvo::test {
namespace {

const std::string home = mailRoot + "/example.com/info";
const std::string maildirNew = home + "/Maildir/new";
const std::string message = "From: sender@example.org\nSubject: test\n\nHello.\n";
// A deliverquota the agent cannot tell from any other program: it runs it.
const std::string copyDeliverquota =
    "cp /usr/sbin/deliverquota.maildrop /usr/bin/deliverquota-copy";

// A mail home for info@example.com laid out and owned as the tool makes it,
// listed in the mailbox table, which is closed to the mail account as setup
// leaves it, with deliverquota linked.
class DeliverTest : public SandboxTest {
protected:
    void SetUp() override {
        SandboxTest::SetUp();
        privateUsrBin();
        ASSERT_EQ(0,
                  shell("m=" + mailRoot + " h=" + home +
                        "; mkdir -p $h/Maildir/tmp $h/Maildir/new $h/Maildir/cur && "
                        "chown root:popuser $m $m/example.com && chmod 0750 $m $m/example.com && "
                        "chown -R popuser:popuser $h && chmod -R 0700 $h && echo "
                        "'info@example.com example.com/info/Maildir/' | postmap -r -i "
                        "hash:/var/spool/postfix/korvo/vmailbox && ln -s "
                        "/usr/sbin/deliverquota.maildrop /usr/bin/deliverquota && cd "
                        "/var/spool/postfix/korvo && chown postfix:root . && chmod 0770 . && "
                        "chmod 0600 *"));
    }

    static void writeDotQmail(const std::string& content) {
        writeFile(home + "/.qmail", content);
        ASSERT_EQ(0, shell("chown popuser:popuser " + home + "/.qmail && chmod 0600 " + home +
                           "/.qmail"));
    }

    // Runs the agent as Postfix's pipe transport would: as popuser, here
    // under the resource limits given as prlimit options.
    static CommandResult deliver(const std::string& recipient = "info@example.com",
                                 const std::vector<std::string>& environment = {},
                                 const std::vector<std::string>& limits = {},
                                 const std::string& text = message,
                                 const std::string& sender = "sender@example.org") {
        std::vector<std::string> argv = {"/usr/bin/setpriv", "--reuid=popuser", "--regid=popuser",
                                         "--init-groups", "/usr/bin/prlimit"};
        argv.insert(argv.end(), limits.begin(), limits.end());
        argv.insert(argv.end(), {installedAgent, "--sender=" + sender, "--", recipient});
        // A sanitized agent's leak check at exit needs a thread and
        // descriptors the limits deny it.
        std::vector<std::string> withEnvironment = environment;
        if (!limits.empty())
            withEnvironment.push_back("ASAN_OPTIONS=detect_leaks=0");
        return runCommand(argv, withEnvironment, text);
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
        {"./Maildir/\n", 75, 0, "nobody@example.com"}, // no home: waits for one
        {"|/var/tmp/script\n./Maildir/\n", 0, 0},     // a script without "#!" (99)
    };
    writeFile("/var/tmp/script", "exit 99\n");
    ASSERT_EQ(0, ::chmod("/var/tmp/script", 0755));
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
        EXPECT_EQ(75, deliver().status) << dotQmail;
    }
}

TEST_F(DeliverTest, ForwardsLeaveOnceThroughSendmailWithTheSender) {
    writeDotQmail("&other@example.com\n./Maildir/\nthird@example.net\n");
    ASSERT_EQ(0, shell(sandboxFile("postfix-prepare")));
    // A failing sendmail defers the whole delivery (the Maildir copy is made again).
    EXPECT_EQ(75, deliver("info@example.com", {"MAIL_CONFIG=/nonexistent"}).status);
    EXPECT_TRUE(entries("/var/spool/postfix/maildrop").empty());

    ASSERT_EQ(0, shell("rm -f " + maildirNew + "/*"));
    // Postfix hands over a quoted local part without its quotes.
    const CommandResult result =
        deliver("info@example.com", {}, {}, message, "jane roe@example.org");
    ASSERT_EQ(0, result.status) << result.err;
    EXPECT_EQ(1u, entries(maildirNew).size());
    const std::vector<std::string> queued = entries("/var/spool/postfix/maildrop");
    ASSERT_EQ(1u, queued.size());
    const std::string queueFile = shellOutput("postcat /var/spool/postfix/maildrop/" + queued[0]);
    for (const char* line : {"sender: jane roe@example.org", "recipient: other@example.com",
                             "recipient: third@example.net"})
        EXPECT_NE(std::string::npos, queueFile.find(line)) << queueFile;
}

TEST_F(DeliverTest, FollowsNoLinkInTheHome) {
    writeDotQmail("./Maildir/\n");
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

// A process limit of one still delivers: finding the home starts nothing.
TEST_F(DeliverTest, FindsTheHomeOfEveryFormOfTheAddressWithTheTablesClosed) {
    writeDotQmail("./Maildir/\n");
    const std::vector<std::string> oneProcess = {"--nproc=1:1"};
    for (const char* recipient : {"info@example.com", "INFO@Example.COM", "info+news@example.com",
                                  "Info+News+x@EXAMPLE.com"}) {
        const CommandResult run = deliver(recipient, {}, oneProcess);
        EXPECT_EQ(0, run.status) << recipient << run.err;
    }
    EXPECT_EQ(4u, entries(maildirNew).size());

    // A mailname that holds the delimiter itself is found before the
    // address without its extension, and Postfix's own delimiter counts.
    const std::string plus = mailRoot + "/example.com/a+b";
    ASSERT_EQ(0, shell("cp -a " + home + " " + plus + " && rm -f " + plus + "/Maildir/new/* " +
                       maildirNew + "/*"));
    EXPECT_EQ(0, deliver("a+b@example.com", {}, oneProcess).status);
    EXPECT_EQ(1u, entries(plus + "/Maildir/new").size());
    writeFile("/etc/postfix/main.cf", "recipient_delimiter = +\nrecipient_delimiter =\n  -+\n");
    EXPECT_EQ(0, deliver("info-news@example.com", {}, oneProcess).status);
    EXPECT_EQ(1u, entries(maildirNew).size());
    EXPECT_EQ(75, deliver("nobody+x@example.com").status);
}

TEST_F(DeliverTest, ATemporaryShortageDefersTheMessage) {
    writeDotQmail("|/bin/true\n./Maildir/\n");
    EXPECT_EQ(75, deliver("info@example.com", {}, {"--nproc=1:1"}).status);
    EXPECT_TRUE(entries(maildirNew).empty());
    writeDotQmail("| /usr/bin/deliverquota ./Maildir\n");
    ASSERT_EQ(0, ::unlink("/usr/bin/deliverquota"));
    EXPECT_EQ(75, deliver().status);
    ASSERT_EQ(0, shell(copyDeliverquota));
    writeDotQmail("./Maildir/\n| true\n|/bin/true\n&other@example.com\n");
    // The sanitizers' runtimes need descriptors of their own and misreport
    // without them: the plain build proves the agent.
#ifdef __SANITIZE_ADDRESS__
    constexpr int fewestDescriptors = 13;
#else
    constexpr int fewestDescriptors = 3;
#endif
    for (int descriptors = fewestDescriptors; descriptors <= 12; ++descriptors) {
        const CommandResult run =
            deliver("info@example.com", {"MAIL_CONFIG=/nonexistent"},
                    {"--nofile=" + std::to_string(descriptors) + ":" + std::to_string(descriptors)});
        // Below what the dynamic loader needs the agent never starts.
        if (run.err.find("error while loading shared libraries") == std::string::npos) {
            EXPECT_EQ(75, run.status) << descriptors << " descriptors: " << run.err;
        }
    }
    EXPECT_TRUE(entries(home + "/Maildir/tmp").empty());

    // A full Maildir, through the agent itself and through a deliverquota
    // of its own, and a full spool directory.
    ASSERT_EQ(0, shell("rm -f " + maildirNew + "/* && mount -t tmpfs -o size=64k full " +
                       home + "/Maildir && mkdir " + home + "/Maildir/tmp " + maildirNew + " " +
                       home + "/Maildir/cur && chown -R popuser:popuser " + home + "/Maildir"));
    const std::string big(200000, 'x');
    for (const char* dotQmail : {"./Maildir/\n", "| /usr/bin/deliverquota-copy ./Maildir\n"}) {
        writeDotQmail(dotQmail);
        const CommandResult run = deliver("info@example.com", {}, {}, big);
        EXPECT_EQ(75, run.status) << dotQmail << run.err;
        EXPECT_TRUE(entries(maildirNew).empty()) << dotQmail;
    }
    ASSERT_EQ(0, shell("mount -t tmpfs -o size=16k full /var/tmp"));
    EXPECT_EQ(75, deliver("info@example.com", {}, {}, big).status);
    EXPECT_EQ(0, shell("umount /var/tmp " + home + "/Maildir"));
}

// What a maildirsize says: its quota limits, then the summed bytes and
// messages of its usage lines.
std::vector<long long> quotaAndUsage(const std::string& maildirsize) {
    std::istringstream lines(maildirsize);
    std::string line;
    std::vector<long long> meaning = {0, 0, 0, 0};
    std::getline(lines, line);
    std::istringstream parts(line);
    for (std::string part; std::getline(parts, part, ',');)
        meaning[part.back() == 'S' ? 0 : 1] = std::stoll(part);
    for (long long bytes = 0, count = 0; lines >> bytes >> count;) {
        meaning[2] += bytes;
        meaning[3] += count;
    }
    return meaning;
}

// Compared against a deliverquota copy the agent runs as a program.
TEST_F(DeliverTest, AMaildirLineKeepsTheQuotaAsDeliverquotaDoes) {
    ASSERT_EQ(0, shell(copyDeliverquota));
    const std::string body(4999, 'x');
    struct Outcome {
        std::vector<int> statuses;
        std::string maildirsize;
        std::size_t stored = 0;
    };
    const auto run = [&](const char* dotQmail, const char* quota, const char* owner) {
        writeDotQmail(dotQmail);
        EXPECT_EQ(0, shell("rm -f " + home + "/Maildir/maildirsize " + maildirNew + "/*"));
        if (quota[0] != '\0') {
            writeFile(home + "/Maildir/maildirsize", quota);
            EXPECT_EQ(0, shell("chown " + std::string(owner) + " " + home + "/Maildir/maildirsize"));
        }
        Outcome outcome;
        for (const std::string& text : {body, body, message, body + body}) {
            const CommandResult result = deliver("info@example.com", {}, {}, text);
            outcome.statuses.push_back(result.status);
        }
        outcome.maildirsize = readFile(home + "/Maildir/maildirsize");
        outcome.stored = entries(maildirNew).size();
        return outcome;
    };
    // As the tool writes an empty mailbox's quota, and with a removal.
    const char* const quotas[] = {"12000S,2C\n",
                                  "9000S\n        4000            1\n       -4000           -1\n",
                                  "0S\n", ""};
    for (const char* quota : quotas) {
        for (const char* owner : {"popuser", "root"}) {
            const Outcome expected = run("| /usr/bin/deliverquota-copy ./Maildir\n", quota, owner);
            for (const char* dotQmail : {"./Maildir/\n", "| /usr/bin/deliverquota ./Maildir\n"}) {
                const Outcome got = run(dotQmail, quota, owner);
                EXPECT_EQ(expected.statuses, got.statuses) << dotQmail << quota << owner;
                EXPECT_EQ(quotaAndUsage(expected.maildirsize), quotaAndUsage(got.maildirsize))
                    << dotQmail << quota << owner << expected.maildirsize << got.maildirsize;
                EXPECT_EQ(expected.stored, got.stored) << dotQmail << quota << owner;
            }
        }
    }
}

} // namespace
} // namespace korvo::test
