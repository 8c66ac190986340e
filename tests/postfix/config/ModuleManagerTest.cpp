#include "postfix/config/ModuleManager.h"
#include "postfix/config/MasterCfTestData.h"
#include "postfix/service/ServiceManager.h"
#include "postfix/config/SmtpdModule.h"
#include "postfix/config/SmtpsdModule.h"
#include "postfix/config/SubmissionModule.h"
#include "sandbox/Sandbox.h"

#include <boost/filesystem/operations.hpp>
#include <gtest/gtest.h>

using namespace korvo::mail::postfix;
using korvo::test::readFile;
using korvo::test::testData;
using korvo::test::writeFile;

namespace {

const std::string masterCf = "/etc/postfix/master.cf";
const std::string disabledFile = "/var/spool/postfix/korvo/master.cf.disabled";

class ModuleManagerTest : public korvo::test::SandboxTest {
protected:
    void SetUp() override {
        SandboxTest::SetUp();
        if (IsSkipped())
            return;
        writeFile(masterCf, testData("master.cf.realworld"));
        manager().loadModules(true);
    }

    static ModuleManager& manager() { return ModuleManager::getInstance(); }

    // A fresh load of what is on disk, as the next run of the tool sees it.
    static void reload() { manager().loadModules(true); }
};

TEST_F(ModuleManagerTest, DisableThenEnableRestoresTheEntryTextExactly) {
    const std::string original = readFile(masterCf);
    const std::string entry = korvo::test::realWorldSubmission + "\n";
    const std::string withoutEntry =
        std::string(original).erase(original.find(entry), entry.size());
    ASSERT_TRUE(ServiceManager::disableSubmission(manager()));
    EXPECT_TRUE(manager().storeModules(false));
    EXPECT_EQ(readFile(masterCf), withoutEntry);
    EXPECT_EQ(readFile(disabledFile), entry);

    // The next run enables it again: the administrator's entry comes back,
    // not the tool's own definition of the service.
    reload();
    ServiceManager::addOrEnableModule(manager(), SubmissionModule());
    EXPECT_TRUE(manager().storeModules(false));
    EXPECT_EQ(readFile(masterCf), withoutEntry + entry);
    // The emptied file of disabled services reads as "nothing disabled".
    EXPECT_EQ(readFile(disabledFile), "");
    reload();
    EXPECT_FALSE(manager().hasModule("submission", ModuleType::INET, false));
}

TEST_F(ModuleManagerTest, UnchangedOrUselessRequestsWriteNothing) {
    const std::string original = readFile(masterCf);
    EXPECT_FALSE(manager().disableModule("smtps", ModuleType::INET));
    EXPECT_FALSE(manager().removeModule("smtps", ModuleType::INET));
    EXPECT_FALSE(manager().storeModules(false));
    EXPECT_FALSE(boost::filesystem::exists(disabledFile));

    // smtp inet is present with other options (postscreen): left as it is.
    ServiceManager::addOrEnableModule(manager(), SmtpdModule());
    EXPECT_FALSE(manager().storeModules(false));
    EXPECT_EQ(manager().getModule("smtp", ModuleType::INET, true).command.front(), "postscreen");
    EXPECT_EQ(readFile(masterCf), original);
}

TEST_F(ModuleManagerTest, MissingServicesAreAddedOrReported) {
    const SmtpsdModule smtps;
    try {
        manager().enableModule(smtps.name, smtps.type);
        FAIL() << "enabled a service that neither file has";
    } catch (const std::out_of_range& e) {
        EXPECT_STREQ(e.what(), "no such module smtps");
    }
    EXPECT_THROW(manager().getModule(smtps.name, smtps.type, boost::logic::indeterminate),
                 std::out_of_range);
    ServiceManager::addOrEnableModule(manager(), smtps);
    EXPECT_TRUE(manager().storeModules(false));
    EXPECT_EQ(readFile(masterCf), testData("master.cf.realworld") + smtps.format() + "\n");

    // Adding it disabled moves it; adding it enabled again replaces its line.
    manager().addModule(smtps, false);
    EXPECT_FALSE(manager().hasModule(smtps.name, smtps.type, true));
    manager().addModule(smtps, true);
    manager().storeModules(true);
    reload();
    EXPECT_FALSE(manager().hasModule(smtps.name, smtps.type, false));
    EXPECT_EQ(readFile(masterCf), testData("master.cf.realworld") + smtps.format() + "\n");
}

} // namespace
