// The flow tests' mail server: the panel database, the programs installed
// where the package puts them, setup's run on the sandbox's Postfix, and
// that Postfix started; it is stopped after every test.
#ifndef KORVO_TEST_FLOW_MAILSERVERFIXTURE_H
#define KORVO_TEST_FLOW_MAILSERVERFIXTURE_H

#include "front/CommandFixture.h"
#include "sandbox/PanelDatabase.h"
#include "setup/SetupFixture.h"

#include <functional>
#include <string>
#include <vector>

namespace korvo::test {

inline const std::string maillog = "/var/spool/postfix/maillog";

// Runs vornctl, with a password at hand, and expects it to succeed silently.
inline void vornctl(const std::vector<std::string>& args) {
    ok(args, {"ORQ_PASSWORD=secret"});
}

inline CommandResult sendmail(const std::string& recipient, const std::string& text,
                              const std::string& sender = "friend@remote.example") {
    return runCommand({"/usr/sbin/sendmail", "-i", "-f", sender, recipient}, {}, text);
}

// Whether the mail log shows text within 30 seconds; a failure prints the log.
inline ::testing::AssertionResult logShows(const std::string& text) {
    if (waitUntil([&text] { return readFile(maillog).find(text) != std::string::npos; }, 30))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "no \"" << text << "\" in\n" << readFile(maillog);
}

// Waits until the queue is empty and every directory has its count of messages.
inline void waitForDelivery(const std::vector<std::pair<std::string, std::size_t>>& counts) {
    EXPECT_TRUE(waitUntil(
        [&counts] {
            for (const auto& [directory, count] : counts)
                if (entries(directory).size() < count)
                    return false;
            return shellOutput("postqueue -p").find("Mail queue is empty") != std::string::npos;
        },
        60))
        << shellOutput("postqueue -p") << readFile(maillog);
}

class MailServerTest : public PanelDatabaseTest {
protected:
    void SetUp() override {
        PanelDatabaseTest::SetUp();
        privateUsrBin();
    }

    void TearDown() override { stopPostfix(); }

    // The set-up of a test on the server setup makes by default, up to Postfix started.
    void startDefaultServer() {
        MailServerTest::SetUp();
        startMailServer();
    }

    // Runs setup with arguments, prepares Postfix for the sandbox, lets
    // beforeStart look at or adjust what setup made, and starts Postfix.
    void startMailServer(
        const std::vector<std::string>& arguments = {"--force"},
        const std::function<void()>& beforeStart = [] {}) {
        const CommandResult setup = runSetup(arguments);
        ASSERT_EQ(0, setup.status) << setup.out << setup.err;
        preparePostfix();
        beforeStart();
        ASSERT_FALSE(HasFatalFailure());
        ASSERT_EQ(0, shell("env -i LANG=C /etc/init.d/postfix start >/dev/null 2>&1"));
    }
};

} // namespace korvo::test

#endif
