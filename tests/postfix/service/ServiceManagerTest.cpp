#include "postfix/service/ServiceManager.h"

#include "sandbox/Sandbox.h"
#include "sandbox/TestFiles.h"

#include <chrono>
#include <unistd.h>

using korvo::mail::postfix::ServiceManager;
using korvo::test::readFile;
using korvo::test::sandboxFile;
using korvo::test::shell;

namespace {

std::string standinCalls() {
    return readFile("/run/vornctl-sandbox/postfix.calls");
}

int masterPid() {
    const std::string pid = readFile("/var/spool/postfix/pid/master.pid");
    return pid.empty() ? -1 : std::stoi(pid);
}

// True once pid has exited; a zombie left for init counts as gone.
bool processGone(int pid) {
    for (int wait = 0; wait < 50; ++wait, ::usleep(100000)) {
        const std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
        if (stat.empty() || stat.find(") Z ") != std::string::npos)
            return true;
    }
    return false;
}

class ServiceManagerTest : public korvo::test::SandboxTest {
protected:
    void TearDown() override {
        const int master = masterPid();
        if (IsSkipped())
            return;
        shell(sandboxFile("postfix-standin") +
              " off; env -i LANG=C /etc/init.d/postfix stop >/dev/null");
        if (master > 0 && master != ::getpid()) {
            EXPECT_TRUE(processGone(master)) << "master " << master << " still runs";
        }
    }
    static void standin(bool on) {
        ASSERT_EQ(shell(sandboxFile("postfix-standin") + (on ? " on" : " off")), 0);
    }
};

// Start while running and stop while stopped must not run the script.
TEST_F(ServiceManagerTest, StartsStopsAndReloadsTheRealPostfix) {
    ASSERT_EQ(shell(sandboxFile("postfix-prepare")), 0);
    EXPECT_EQ(ServiceManager::statusServer(0), 1);
    ASSERT_EQ(ServiceManager::startServer(), 0);
    const int master = masterPid();
    standin(true);
    EXPECT_EQ(ServiceManager::startServer(), 0);
    EXPECT_EQ(standinCalls(), "");
    standin(false);
    EXPECT_EQ(ServiceManager::stopServer(), 0);
    EXPECT_TRUE(processGone(master));
    EXPECT_EQ(ServiceManager::statusServer(0), 1);
    standin(true);
    EXPECT_EQ(ServiceManager::stopServer(), 0);
    EXPECT_EQ(standinCalls(), "");
    standin(false);

    // A stop right after a reload still stops the master.
    ASSERT_EQ(ServiceManager::startServer(), 0);
    const int reloaded = masterPid();
    EXPECT_EQ(ServiceManager::reloadServer(), 0);
    EXPECT_EQ(ServiceManager::stopServer(), 0);
    EXPECT_TRUE(processGone(reloaded));
}

// A pid file naming some other process counts as stopped.
TEST_F(ServiceManagerTest, MasterThatNeverComesUpFailsAfterFiveSeconds) {
    ASSERT_EQ(shell("mkdir -p /var/spool/postfix/pid"), 0);
    korvo::test::writeFile("/var/spool/postfix/pid/master.pid",
                           "  " + std::to_string(::getpid()) + "\n");
    standin(true);
    EXPECT_EQ(ServiceManager::stopServer(), 0);
    EXPECT_EQ(standinCalls(), "");

    const auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(ServiceManager::restartServer(), 1);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    EXPECT_GT(seconds, 4.5);
    EXPECT_LT(seconds, 7.0);
    EXPECT_EQ(standinCalls(), "args: restart\nLANG=C\n");
}

} // namespace
