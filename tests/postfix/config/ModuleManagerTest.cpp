#include "postfix/config/ModuleManager.h"
#include "postfix/config/ConcurrentRuns.h"
#include "postfix/config/SmtpdModule.h"
#include "postfix/config/SmtpsdModule.h"
#include "postfix/config/SubmissionModule.h"
#include "postfix/service/ServiceManager.h"
#include "sandbox/Sandbox.h"
#include "sandbox/TestFiles.h"
#include "utils/Exceptions.h"

#include <boost/filesystem/operations.hpp>
#include <gtest/gtest.h>

using namespace korvo::mail::postfix;
using namespace korvo::test;

namespace {

const std::string masterCf = "/etc/postfix/master.cf";
const std::string disabledFile = "/var/spool/postfix/korvo/master.cf.disabled";
// The realworld file's submission entry: continuations, comments, a tab, a CR.
const std::string submissionEntry =
    "submission inet n       -       y       -       -       smtpd\n"
    "  -o syslog_name=postfix/submission\n"
    "#  -o smtpd_tls_security_level=encrypt\n"
    "\t-o smtpd_sasl_auth_enable=yes\t# added for the mail clients\n"
    "  -o smtpd_client_restrictions=permit_sasl_authenticated,reject   \r\n";

class ModuleManagerTest : public SandboxTest {
protected:
    void SetUp() override {
        SandboxTest::SetUp();
        writeFile(masterCf, testData("master.cf.realworld"));
        manager().loadModules(RELOAD_FILES);
    }

    static ModuleManager& manager() { return ModuleManager::getInstance(); }

    static void reload() { manager().loadModules(RELOAD_FILES); }
};

// Adding a missing service is proven by --restart-smtpd in tests/front.
TEST_F(ModuleManagerTest, UselessRequestsWriteNothingAndDisableThenEnableRestoresTheEntryText) {
    const std::string original = readFile(masterCf);
    const SmtpsdModule smtps;
    EXPECT_FALSE(manager().disableModule(smtps.name, smtps.type));
    // smtp inet is present with other options (postscreen): left as it is.
    ServiceManager::addOrEnableModule(manager(), SmtpdModule());
    EXPECT_FALSE(manager().storeModules(WRITE_IF_CHANGED));
    EXPECT_EQ(readFile(masterCf), original);
    EXPECT_FALSE(boost::filesystem::exists(disabledFile));

    const std::string& entry = submissionEntry;
    const std::string withoutEntry =
        std::string(original).erase(original.find(entry), entry.size());
    reload();
    ASSERT_TRUE(ServiceManager::disableSubmission(manager()));
    EXPECT_TRUE(manager().storeModules(WRITE_IF_CHANGED));
    EXPECT_EQ(readFile(masterCf), withoutEntry);
    EXPECT_EQ(readFile(disabledFile), entry);

    // The administrator's entry comes back, not the tool's own definition.
    reload();
    ServiceManager::addOrEnableModule(manager(), SubmissionModule());
    EXPECT_TRUE(manager().storeModules(WRITE_IF_CHANGED));
    EXPECT_EQ(readFile(masterCf), withoutEntry + entry);
    EXPECT_EQ(readFile(disabledFile), "");
    reload();
    EXPECT_FALSE(manager().hasModule("submission", ModuleType::INET, IN_DISABLED_FILE));
}

// Root ignores mode bits: only a read-only mount makes a store fail.
void storeFailsReadOnly(const std::string& dir) {
    ASSERT_EQ(shell("mount --bind -o ro " + dir + " " + dir), 0);
    EXPECT_THROW(ModuleManager::getInstance().storeModules(WRITE_IF_CHANGED), korvo::SystemError);
    EXPECT_EQ(shell("umount " + dir), 0);
}

// Where submission and smtps are, as the next run finds them.
std::string entriesOnDisk() {
    ModuleManager& manager = ModuleManager::getInstance();
    manager.loadModules(RELOAD_FILES);
    std::string found;
    for (const char* name : {"submission", "smtps"})
        for (const bool enabled : {true, false})
            if (manager.hasModule(name, ModuleType::INET, enabled))
                found += std::string(name) + (enabled ? " enabled\n" : " disabled\n");
    manager.storeModules(WRITE_IF_CHANGED);
    return found;
}

TEST_F(ModuleManagerTest, FailedStoreNeverLosesAnEntry) {
    const std::string original = readFile(masterCf);
    ASSERT_TRUE(ServiceManager::disableSubmission(manager()));
    storeFailsReadOnly("/var/spool/postfix/korvo");
    EXPECT_EQ(readFile(masterCf), original);

    // A store moving entries both ways into an unwritable master.cf loses none.
    reload();
    ServiceManager::addOrEnableModule(manager(), SmtpsdModule());
    manager().storeModules(WRITE_IF_CHANGED);
    reload();
    manager().disableModule("smtps", ModuleType::INET);
    manager().disableModule("submission", ModuleType::INET);
    manager().storeModules(WRITE_IF_CHANGED);
    EXPECT_EQ(entriesOnDisk(), "submission disabled\nsmtps disabled\n");
    reload();
    manager().enableModule("submission", ModuleType::INET);
    manager().addModule(SmtpdModule(), TO_DISABLED_FILE);
    storeFailsReadOnly("/etc/postfix");
    EXPECT_EQ(entriesOnDisk(), "submission disabled\nsmtps disabled\n");

    // An entry in both files: master.cf wins, the disabled copy goes.
    const std::string enabledText = readFile(masterCf);
    writeFile(disabledFile, readFile(disabledFile) + "smtp inet n - y - - smtpd -o x=1\n");
    reload();
    EXPECT_FALSE(manager().hasModule("smtp", ModuleType::INET, IN_DISABLED_FILE));
    EXPECT_FALSE(manager().storeModules(WRITE_IF_CHANGED));
    EXPECT_EQ(readFile(disabledFile).find("x=1"), std::string::npos);
    EXPECT_EQ(readFile(masterCf), enabledText);
}

// A run holds master.cf's lock from load to store.
TEST_F(ModuleManagerTest, ConcurrentRunsKeepEachOthersChanges) {
    manager().storeModules(WRITE_IF_CHANGED); // leaves the fixture's lock before forking
    const int runs = 3, services = 4;
    const auto serviceName = [](int run, int i) {
        return "svc" + std::to_string(run) + "n" + std::to_string(i);
    };
    ASSERT_TRUE(runConcurrently(runs, [&](int run) {
        for (int i = 0; i < services; ++i) {
            ModuleInfo info;
            info.name = serviceName(run, i);
            info.command = {"smtpd"};
            manager().loadModules(RELOAD_FILES);
            manager().addModule(info, TO_MASTER_CF);
            if (i == 1)
                manager().disableModule(serviceName(run, 0), ModuleType::INET);
            manager().storeModules(WRITE_IF_CHANGED);
        }
    }));
    reload();
    for (int run = 0; run < runs; ++run)
        for (int i = 0; i < services; ++i)
            EXPECT_TRUE(manager().hasModule(serviceName(run, i), ModuleType::INET, i != 0) &&
                        !manager().hasModule(serviceName(run, i), ModuleType::INET, i == 0))
                << serviceName(run, i);
}

} // namespace
