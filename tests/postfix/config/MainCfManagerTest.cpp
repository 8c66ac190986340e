#include "postfix/config/MainCfManager.h"

#include "postfix/config/ConcurrentRuns.h"
#include "sandbox/CommandRunner.h"
#include "sandbox/Sandbox.h"
#include "utils/Exceptions.h"

#include <boost/algorithm/string.hpp>
#include <fstream>
#include <set>
#include <vector>

using korvo::mail::postfix::MainCfManager;
using korvo::test::shell;

namespace {

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

    // Nothing removed, nothing written.
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

TEST_F(MainCfManagerTest, MynetworksStandsInForPostfixsComputedValueOnly) {
    ASSERT_EQ(shell("ip link add v0 type veth peer name v1 && ip addr add 192.0.2.7/24 dev v0 && "
                    "ip link set v0 up"),
              0);
    const std::string local = "127.0.0.0/8, 192.0.2.7/32";
    ASSERT_EQ(shell("postconf -X mynetworks"), 0);
    EXPECT_EQ(mainCf.getStringValue("mynetworks", false), local + ", [::1]/128");
    set("inet_protocols=ipv4");
    EXPECT_EQ(mainCf.getStringValue("mynetworks", false), local);
    mainCf.appendStringValue("mynetworks", "127.0.0.0/8");
    EXPECT_EQ(postconf("mynetworks"), local);

    set("inet_protocols=all");
    ASSERT_EQ(shell("postconf -e \"mynetworks=$(postconf -h -d mynetworks), 10.1.0.0/16\""), 0);
    EXPECT_EQ(mainCf.getStringValue("mynetworks", false), local + ", [::1]/128, 10.1.0.0/16");
    // Explicit values, Debian's included, are kept.
    set("mynetworks=10.0.0.0/8");
    mainCf.appendStringValue("mynetworks", "hash:/p");
    EXPECT_EQ(postconf("mynetworks"), "10.0.0.0/8, hash:/p");
    const std::string debian = "127.0.0.0/8 [::ffff:127.0.0.0]/104 [::1]/128";
    set("mynetworks=" + debian);
    EXPECT_EQ(mainCf.getStringValue("mynetworks", false), debian);
}

TEST_F(MainCfManagerTest, ConcurrentListEditsKeepEveryElement) {
    const std::string items = "smtpd_helo_restrictions";
    set(list + "=permit_mynetworks");
    set(items + "=permit_mynetworks");
    const int runs = 3, elements = 3;
    const auto element = [](int run, int i) {
        return "hash:/r" + std::to_string(run) + "e" + std::to_string(i);
    };
    ASSERT_TRUE(korvo::test::runConcurrently(runs, [&](int run) {
        for (int i = 0; i < elements; ++i) {
            mainCf.appendStringValue(list, element(run, i));
            mainCf.appendCompoundStringValue(items, "check_client_access", element(run, i));
        }
        mainCf.removeListElement(list, element(run, 0));
    }));
    std::set<std::string> expected{"permit_mynetworks"}, expectedItems{"permit_mynetworks"};
    for (int run = 0; run < runs; ++run) {
        for (int i = 0; i < elements; ++i) {
            if (i != 0)
                expected.insert(element(run, i));
            expectedItems.insert("check_client_access " + element(run, i));
        }
    }
    std::vector<std::string> words;
    boost::algorithm::split(words, postconf(list), boost::algorithm::is_any_of(", "),
                            boost::algorithm::token_compress_on);
    EXPECT_EQ(std::set<std::string>(words.begin(), words.end()), expected);
    const std::vector<std::string> written = korvo::mail::postfix::splitListItems(postconf(items));
    EXPECT_EQ(std::set<std::string>(written.begin(), written.end()), expectedItems);
}

} // namespace
