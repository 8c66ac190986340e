// The flow tests' mail server: the panel database, the programs installed
// where the package puts them, setup's run on the sandbox's Postfix, and
// that Postfix started; it is stopped after every test.
#ifndef KORVO_TEST_FLOW_MAILSERVERFIXTURE_H
#define KORVO_TEST_FLOW_MAILSERVERFIXTURE_H

#include "front/CommandFixture.h"
#include "sandbox/PanelDatabase.h"
#include "setup/SetupFixture.h"

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace korvo::test {

// Polls done every 100 ms for at most the given time.
inline bool waitUntil(const std::function<bool()>& done, int seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!done())
        if (std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        else
            return false;
    return true;
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
        << shellOutput("postqueue -p") << readFile("/var/spool/postfix/maillog");
}

class MailServerTest : public PanelDatabaseTest {
protected:
    void SetUp() override {
        PanelDatabaseTest::SetUp();
        if (!HasFatalFailure())
            privateUsrBin();
    }

    void TearDown() override { stopPostfix(); }

    // The set-up of a test on the server setup makes by default, up to Postfix started.
    void startDefaultServer() {
        MailServerTest::SetUp();
        if (!HasFatalFailure())
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
