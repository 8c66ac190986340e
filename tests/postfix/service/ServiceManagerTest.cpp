#include "postfix/service/ServiceManager.h"

#include "front/CommandFixture.h"

#include <chrono>
#include <unistd.h>

using korvo::mail::postfix::ServiceManager;
using namespace korvo::test;

namespace {

const std::string pidFile = "/var/spool/postfix/pid/master.pid";

int masterPid() {
    const std::string pid = readFile(pidFile);
    return pid.empty() ? -1 : std::stoi(pid);
}

// True once pid has exited; a zombie left for init counts as gone.
bool processGone(int pid) {
    return waitUntil(
        [pid] {
            const std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
            return stat.empty() || stat.find(") Z ") != std::string::npos;
        },
        5);
}

class ServiceManagerTest : public SandboxTest {
protected:
    void TearDown() override { stopPostfix(); }
    // With the stand-in on, the init script only records its calls.
    static std::string callsWithStandin(int (*action)()) {
        EXPECT_EQ(shell(sandboxFile("postfix-standin") + " on"), 0);
        EXPECT_EQ(action(), 0);
        const std::string calls = readFile("/run/vornctl-sandbox/postfix.calls");
        EXPECT_EQ(shell(sandboxFile("postfix-standin") + " off"), 0);
        return calls;
    }
};

// Start while running and stop while stopped must not run the script; a stop
// right after a reload still stops the master; a pid file naming some other
// process counts as stopped, and a master that never comes up fails in 5 s.
TEST_F(ServiceManagerTest, StartsStopsAndReloadsTheRealPostfix) {
    ASSERT_EQ(shell(sandboxFile("postfix-prepare")), 0);
    EXPECT_EQ(ServiceManager::statusServer(0), 1);
    ASSERT_EQ(ServiceManager::startServer(), 0);
    const int master = masterPid();
    EXPECT_EQ(callsWithStandin(ServiceManager::startServer), "");
    EXPECT_EQ(ServiceManager::stopServer(), 0);
    EXPECT_TRUE(processGone(master));
    EXPECT_EQ(ServiceManager::statusServer(0), 1);
    EXPECT_EQ(callsWithStandin(ServiceManager::stopServer), "");

    ASSERT_EQ(ServiceManager::startServer(), 0);
    const int reloaded = masterPid();
    EXPECT_EQ(ServiceManager::reloadServer(), 0);
    EXPECT_EQ(ServiceManager::stopServer(), 0);
    EXPECT_TRUE(processGone(reloaded));

    writeFile(pidFile, "  " + std::to_string(::getpid()) + "\n");
    EXPECT_EQ(callsWithStandin(ServiceManager::stopServer), "");
    ASSERT_EQ(shell(sandboxFile("postfix-standin") + " on"), 0);
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(ServiceManager::restartServer(), 1);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    EXPECT_GT(seconds, 4.5);
    EXPECT_LT(seconds, 7.0);
    EXPECT_EQ(readFile("/run/vornctl-sandbox/postfix.calls"), "args: restart\nLANG=C\n");
}

} // namespace
