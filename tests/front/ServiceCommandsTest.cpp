// The service commands and legacy words: master.cf and the disabled-services
// file byte for byte, the real Courier's and the real Postfix's ports.
#include "CommandFixture.h"
#include "sandbox/PanelDatabase.h"
#include "sandbox/Ports.h"

#include <tuple>

namespace korvo::test {
namespace {

const char masterCf[] = "/etc/postfix/master.cf";
const char disabledCf[] = "/var/spool/postfix/korvo/master.cf.disabled";
const char submissionLine[] =
    "submission inet n - n - - smtpd -o smtpd_enforce_tls=yes "
    "-o smtpd_tls_security_level=encrypt -o smtpd_sasl_auth_enable=yes "
    "-o smtpd_client_restrictions=permit_sasl_authenticated,reject -o smtpd_sender_restrictions= "
    "-o smtpd_proxy_filter=127.0.0.1:10025\n";

bool hasLine(const std::string& text, const std::string& start) {
    return text.rfind(start, 0) == 0 || text.find("\n" + start) != std::string::npos;
}

using ServiceCommandsTest = SandboxTest;

TEST_F(ServiceCommandsTest, CourierWordsStatusLinesAndUnknownComponents) {
    const Snapshot before = takeSnapshot();
    for (const std::string& name : hostileNames())
        EXPECT_EQ(runVornctl({"--restart-service", "--mail-component=" + name}).status, 1)
            << " [" << name << "]";
    EXPECT_TRUE(compareSnapshots(before, takeSnapshot()));

    const CommandResult stopped = runVornctl({"--status-service"});
    EXPECT_EQ(stopped.status, 0);
    EXPECT_EQ(stopped.out, "mta is stopped\npop3 is stopped\npop3s is stopped\n"
                           "imap is stopped\nimaps is stopped\n");
    EXPECT_EQ(runVornctl({"-i"}).status, 0);
    EXPECT_EQ(runVornctl({"--status-maild"}).out, "is running\n");
    EXPECT_EQ(
        runVornctl({"--status-service", "--mail-component=imaps", "--mail-component=pop3"}).out,
        "pop3 is running\nimaps is running\n");
    EXPECT_EQ(runVornctl({"--status-service", "--mail-component=smtp"}).out, "");
    EXPECT_EQ(runVornctl({"--stop-maild"}).status, 0);
    EXPECT_EQ(runVornctl({"-e"}).out, "internal error\n");
    EXPECT_TRUE(becomesListening(143, false));
}

// The legacy words, submission's too, do not ask the panel.
TEST_F(ServiceCommandsTest, SmtpWordsMoveEntriesBetweenMasterCfAndTheDisabledFile) {
    const std::vector<std::tuple<std::string, std::string, bool>> steps = {
        {"-o", "smtp      inet", false},
        {"--restart-smtpd", "smtp      inet", true},
        {"-a", submissionLine, true},
        {"--disable-message-submission", submissionLine, false}};
    for (const auto& [word, line, enabled] : steps) {
        ok({word});
        EXPECT_EQ(hasLine(readFile(masterCf), line), enabled) << word;
        EXPECT_EQ(hasLine(readFile(disabledCf), line), !enabled) << word;
    }
    EXPECT_TRUE(hasLine(readFile(masterCf), "smtps inet n - n - - smtpd"));
}

class ServicesWithPanelTest : public PanelDatabaseTest {
protected:
    void SetUp() override {
        // A server an earlier test left dead (no socket) is started afresh.
        if (::access("/run/mysqld/mysqld.sock", F_OK) != 0)
            PanelServer::stop();
        PanelDatabaseTest::SetUp();
        preparePostfix();
    }
    void TearDown() override { stopPostfix(); }
};

// The panel's "message_submission" decides: the running Postfix listens on
// 587 exactly while master.cf has the entry, and a stop of every component
// keeps submission while the panel wants it.
TEST_F(ServicesWithPanelTest, SubmissionFollowsThePanelAndThePort) {
    setMisc("message_submission", "false");
    succeeds({"--start-service", "--mail-component=mta", "--mail-component=submission"});
    EXPECT_FALSE(hasLine(readFile(masterCf), "submission"));

    setMisc("message_submission", "true");
    succeeds({"--start-service", "--mail-component=submission"});
    EXPECT_TRUE(becomesListening(587, true));
    // While the panel keeps submission on, a stop request is ignored.
    succeeds({"--stop-service", "--mail-component=submission"});
    EXPECT_TRUE(becomesListening(587, true));

    // No component named means all: smtp and smtps go, Postfix and Courier stop.
    succeeds({"--stop-service"});
    const std::string master = readFile(masterCf);
    EXPECT_FALSE(hasLine(master, "smtp      inet"));
    EXPECT_FALSE(hasLine(master, "smtps"));
    EXPECT_TRUE(hasLine(master, submissionLine));
    EXPECT_TRUE(becomesListening(25, false));
    EXPECT_TRUE(becomesListening(110, false));
    EXPECT_EQ(runVornctl({"-s"}).out, "is stopped\n");
}

} // namespace
} // namespace korvo::test
