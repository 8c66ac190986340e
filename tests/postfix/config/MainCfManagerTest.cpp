#include "postfix/config/MainCfManager.h"

#include "sandbox/CommandRunner.h"
#include "sandbox/Sandbox.h"
#include "utils/Exceptions.h"

#include <boost/algorithm/string/trim.hpp>
#include <fstream>

using korvo::mail::postfix::MainCfManager;
using korvo::test::shell;

namespace {

// What postconf itself says, independent of the manager.
std::string postconf(const std::string& name) {
    return boost::algorithm::trim_copy(
        korvo::test::runCommand({"/usr/sbin/postconf", "-h", name}).out);
}

class MainCfManagerTest : public korvo::test::SandboxTest {
protected:
    const MainCfManager& mainCf = MainCfManager::getInstance();
    const std::string list = "smtpd_client_restrictions";
    void set(const std::string& value) { ASSERT_EQ(shell("postconf -e '" + value + "'"), 0); }
};

TEST_F(MainCfManagerTest, ListEditsKeepOrderAndNeverDuplicate) {
    EXPECT_EQ(mainCf.getStringValue("no_such_parameter", false), "");
    set(list + "=");
    mainCf.appendStringValue(list, "c");
    EXPECT_EQ(postconf(list), "c");
    set(list + "=a b");
    mainCf.appendStringValue(list, "c");
    mainCf.appendStringValue(list, "b");
    EXPECT_EQ(postconf(list), "a b, c");

    // Nothing to remove means nothing written: the tight commas survive.
    set(list + "=a,b,c");
    mainCf.removeListElement(list, "x");
    EXPECT_EQ(postconf(list), "a,b,c");
    mainCf.removeListElement(list, "b");
    EXPECT_EQ(postconf(list), "a, c");

    set(list + "=permit_mynetworks,, reject");
    for (int i = 0; i < 2; ++i)
        mainCf.appendCompoundStringValue(list, "check_client_access", "hash:/t");
    EXPECT_EQ(postconf(list), "permit_mynetworks, reject, check_client_access hash:/t");
}

TEST_F(MainCfManagerTest, PostconfErrorsCarryItsMessage) {
    std::ofstream("/etc/postfix/main.cf", std::ios::app) << "no equals sign here\n";
    try {
        mainCf.getStringValue("message_size_limit", false);
        FAIL() << "a broken main.cf read as a value";
    } catch (const korvo::mail::postfix::PostfixConfigurationError& error) {
        EXPECT_NE(std::string(error.what()).find("postconf: fatal: "), std::string::npos);
    }
}

TEST_F(MainCfManagerTest, MynetworksDefaultIsRewrittenToLocalNetworks) {
    // Postfix computes the value itself: no mynetworks, subnet style.
    ASSERT_EQ(shell("postconf -X mynetworks && postconf -e mynetworks_style=subnet"), 0);
    EXPECT_EQ(mainCf.getStringValue("mynetworks", false), "127.0.0.0/8");
    ASSERT_EQ(shell("ip link add v0 type veth peer name v1 && ip addr add 192.0.2.7/24 dev v0 && "
                    "ip link set v0 up"),
              0);
    const std::string local = "127.0.0.0/8, 192.0.2.7/32";
    EXPECT_EQ(mainCf.getStringValue("mynetworks", false), local);
    // A present element still pins the rewritten default down in main.cf.
    mainCf.appendStringValue("mynetworks", "127.0.0.0/8");
    EXPECT_EQ(postconf("mynetworks"), local);

    ASSERT_EQ(shell("postconf -e \"mynetworks=$(postconf -h -d mynetworks), 10.1.0.0/16\""), 0);
    EXPECT_EQ(mainCf.getStringValue("mynetworks", false), local + ", 10.1.0.0/16");
    set("mynetworks=10.0.0.0/8, 172.16.0.0/12, 192.168.0.0/16");
    EXPECT_EQ(mainCf.getStringValue("mynetworks", false),
              "10.0.0.0/8, 172.16.0.0/12, 192.168.0.0/16");
}

} // namespace
