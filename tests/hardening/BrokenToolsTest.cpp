// A program the tool drives that fails, dies or is missing: the run fails
// with a message, one-step commands change nothing, every file stays whole.
#include "hardening/HardeningFixture.h"

#include <cstdio>
#include <sys/mount.h>
#include <sys/stat.h>

namespace korvo::test {
namespace {

const char modeFile[] = "/run/vornctl-sandbox/standin-failing.mode";
const char notExecutable[] = "/run/vornctl-sandbox/not-executable";

struct Fault {
    const char* program;
    const char* mode; // "fail", "kill" or "missing"
};

class BrokenToolsTest : public HardeningTest {
protected:
    void SetUp() override {
        HardeningTest::SetUp();
        addDomain("main.test");
        addMailname("main.test", "info");
        writeFile(notExecutable, "");
        ASSERT_EQ(::chmod(notExecutable, 0644), 0);
    }

    void TearDown() override {
        unbind();
        HardeningTest::TearDown();
    }

    void runBroken(const Fault& fault, const std::vector<std::string>& args, bool oneStep) {
        const Snapshot before = takeSnapshot();
        writeFile(modeFile, std::string(fault.mode) + "\n");
        const std::string stand =
            std::string(fault.mode) == "missing" ? notExecutable : sandboxFile("standin-failing");
        bound_ = fault.program;
        EXPECT_EQ(::mount(stand.c_str(), fault.program, nullptr, MS_BIND, nullptr), 0)
            << fault.program;
        const CommandResult result = runVornctl(args);
        unbind();
        const std::string where = args[0] + " with " + fault.program + " " + fault.mode;
        EXPECT_NE(result.status, 0) << where << " succeeded";
        EXPECT_FALSE(result.err.empty()) << where << " said nothing";
        EXPECT_TRUE(damage().empty()) << where << "\n" << testing::PrintToString(damage());
        if (oneStep) {
            EXPECT_TRUE(compareSnapshots(before, takeSnapshot())) << where;
        }
        std::printf("broken: %s: status %d: %s", where.c_str(), result.status, result.err.c_str());
    }

private:
    void unbind() {
        if (!bound_.empty())
            ::umount2(bound_.c_str(), MNT_DETACH);
        bound_.clear();
    }

    std::string bound_;
};

TEST_F(BrokenToolsTest, BrokenPostmapAndPostconfChangeNothing) {
    for (const char* mode : {"fail", "kill", "missing"}) {
        runBroken({"/usr/sbin/postmap", mode}, {"--add-badmailfrom", "--domain-name=spam.test"},
                  true);
        runBroken({"/usr/sbin/postmap", mode},
                  {"--add-alias", "--domain-name=main.test", "--mailname=info", "--alias=other"},
                  true);
        runBroken({"/usr/sbin/postconf", mode}, {"--set-max-letter-size", "--size=1000000"}, true);
        runBroken({"/usr/sbin/postconf", mode},
                  {"--add-whitelist", "--ip-address=10.1.0.0", "--netmask=16"}, true);
    }
}

TEST_F(BrokenToolsTest, BrokenPostmapStopsMultiStepCommandsWithWholeFiles) {
    for (const char* mode : {"fail", "kill"}) {
        runBroken({"/usr/sbin/postmap", mode},
                  {"--add-mailname", "--domain-name=main.test", "--mailname=fresh"}, false);
        runBroken({"/usr/sbin/postmap", mode}, {"--remove-domain", "--domain-name=main.test"},
                  false);
    }
}

TEST_F(BrokenToolsTest, BrokenInitScriptsAreReported) {
    for (const char* mode : {"fail", "kill", "missing"}) {
        runBroken({"/etc/init.d/courier-imap", mode}, {"--set-mail-params", "--popauth"}, false);
        EXPECT_NE(readFile("/etc/courier-imap/imapd").find("POPAUTH=1\n"), std::string::npos);
        runBroken({"/etc/init.d/courier-imap", mode},
                  {"--restart-service", "--mail-component=imap"}, true);
    }
}

TEST_F(BrokenToolsTest, StoppedPanelDatabaseIsReportedBeforeTablesChange) {
    PanelServer::stop();
    const std::vector<std::string> tablesBefore = tableLines();
    const CommandResult result =
        runVornctl({"--add-mailname", "--domain-name=main.test", "--mailname=fresh"});
    EXPECT_NE(result.status, 0);
    EXPECT_FALSE(result.err.empty());
    EXPECT_TRUE(damage().empty()) << testing::PrintToString(damage());
    EXPECT_EQ(tableLines(), tablesBefore);
    PanelServer::start();
}

} // namespace
} // namespace korvo::test
