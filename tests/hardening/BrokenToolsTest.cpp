// A program the tool drives that fails, dies or is missing: the run fails
// with a message, one-step commands change nothing, every file stays whole.
#include "hardening/HardeningFixture.h"
#include "postfix/service/ServiceManager.h"

#include <sys/mount.h>
#include <sys/stat.h>

namespace korvo::test {
namespace {

using korvo::mail::postfix::ServiceManager;

const char modeFile[] = "/run/vornctl-sandbox/standin-failing.mode";
const char notExecutable[] = "/run/vornctl-sandbox/not-executable";

struct Broken {
    const char* program;
    std::vector<std::string> args;
    bool oneStep; // else the steps before the failing call may stay done
};

class BrokenToolsTest : public HardeningTest {
protected:
    void SetUp() override {
        HardeningTest::SetUp();
        serveDomain("main.test");
        serveMailname("main.test", "info");
        writeFile(notExecutable, "");
        ASSERT_EQ(::chmod(notExecutable, 0644), 0);
    }

    // Each case once per way of breaking: failing, killed, not executable.
    void runBroken(const std::vector<Broken>& cases) {
        for (const Broken& broken : cases) {
            for (const std::string mode : {"fail", "kill", "missing"}) {
                const Snapshot before = takeSnapshot();
                writeFile(modeFile, mode + "\n");
                const std::string stand =
                    mode == "missing" ? notExecutable : sandboxFile("standin-failing");
                ASSERT_EQ(::mount(stand.c_str(), broken.program, nullptr, MS_BIND, nullptr), 0);
                const CommandResult result = runVornctl(broken.args);
                ::umount2(broken.program, MNT_DETACH);
                const std::string where = broken.args[0] + " with " + broken.program + " " + mode;
                EXPECT_NE(result.status, 0) << where << " succeeded";
                EXPECT_FALSE(result.err.empty()) << where << " said nothing";
                EXPECT_TRUE(damage().empty()) << where << "\n" << testing::PrintToString(damage());
                if (broken.oneStep) {
                    EXPECT_TRUE(compareSnapshots(before, takeSnapshot())) << where;
                }
            }
        }
    }
};

TEST_F(BrokenToolsTest, BrokenPostmapAndPostconfStopTheCommandWithWholeFiles) {
    runBroken({
        {"/usr/sbin/postmap",
         {"--add-alias", "--domain-name=main.test", "--mailname=info", "--alias=other"},
         true},
        {"/usr/sbin/postconf", {"--set-max-letter-size", "--size=1000000"}, true},
        {"/usr/sbin/postmap",
         {"--add-mailname", "--domain-name=main.test", "--mailname=fresh"},
         false},
        {"/usr/sbin/postmap", {"--remove-domain", "--domain-name=main.test"}, false},
    });
}

TEST_F(BrokenToolsTest, BrokenInitScriptsFailTheServiceCommands) {
    const char postfix[] = "/etc/init.d/postfix";
    const char courier[] = "/etc/init.d/courier-imap";
    runBroken({
        {courier, {"--set-mail-params", "--popauth"}, false},
        {courier, {"--restart-service", "--mail-component=imap"}, true},
        {postfix, {"--restart-service", "--mail-component=mta"}, true},
    });
    EXPECT_NE(readFile("/etc/courier-imap/imapd").find("POPAUTH=1\n"), std::string::npos);
    // Stopping calls the script only while Postfix runs; a broken one leaves it running.
    ASSERT_EQ(shell(sandboxFile("postfix-prepare") + " && env -i LANG=C " + postfix +
                    " start >/dev/null 2>&1"),
              0);
    ASSERT_EQ(ServiceManager::statusServer(5), 0);
    runBroken({{postfix, {"--stop-service", "--mail-component=mta"}, false}});
    EXPECT_EQ(ServiceManager::statusServer(0), 0) << "Postfix stopped";
}

} // namespace
} // namespace korvo::test
