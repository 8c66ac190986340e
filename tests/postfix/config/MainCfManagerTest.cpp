#include "postfix/config/MainCfManager.h"

#include "front/CommandFixture.h"
#include "postfix/config/ConcurrentRuns.h"

#include <set>

namespace korvo::test {
namespace {

using korvo::mail::postfix::MainCfManager;

class MainCfManagerTest : public SandboxTest {
protected:
    const MainCfManager& mainCf = MainCfManager::getInstance();
    const std::string list = "smtpd_client_restrictions";
};

TEST_F(MainCfManagerTest, MynetworksStandsInForPostfixsComputedValueOnly) {
    ASSERT_EQ(shell("ip link add v0 type veth peer name v1 && ip addr add 192.0.2.7/24 dev v0 && "
                    "ip link set v0 up"),
              0);
    const std::string local = "127.0.0.0/8, 192.0.2.7/32";
    ASSERT_EQ(shell("postconf -X mynetworks"), 0);
    EXPECT_EQ(mainCf.getStringValue("mynetworks", false), local + ", [::1]/128");
    setPostconf("inet_protocols=ipv4");
    EXPECT_EQ(mainCf.getStringValue("mynetworks", false), local);
    mainCf.appendStringValue("mynetworks", "127.0.0.0/8");
    EXPECT_EQ(postconf("mynetworks"), local);

    setPostconf("inet_protocols=all");
    ASSERT_EQ(shell("postconf -e \"mynetworks=$(postconf -h -d mynetworks), 10.1.0.0/16\""), 0);
    EXPECT_EQ(mainCf.getStringValue("mynetworks", false), local + ", [::1]/128, 10.1.0.0/16");
    // Explicit values, Debian's included, are kept.
    setPostconf("mynetworks=10.0.0.0/8");
    mainCf.appendStringValue("mynetworks", "hash:/p");
    EXPECT_EQ(postconf("mynetworks"), "10.0.0.0/8, hash:/p");
    const std::string debian = "127.0.0.0/8 [::ffff:127.0.0.0]/104 [::1]/128";
    setPostconf("mynetworks=" + debian);
    EXPECT_EQ(mainCf.getStringValue("mynetworks", false), debian);
}

// Every edit holds main.cf's lock from its read to its write.
TEST_F(MainCfManagerTest, ConcurrentListEditsKeepEveryElement) {
    setPostconf(list + "=permit_mynetworks");
    const auto element = [](int run, int i) {
        return "hash:/r" + std::to_string(run) + "e" + std::to_string(i);
    };
    ASSERT_TRUE(runConcurrently(3, [&](int run) {
        for (int i = 0; i < 3; ++i)
            mainCf.appendStringValue(list, element(run, i));
        mainCf.removeListElement(list, element(run, 0));
    }));
    std::set<std::string> expected{"permit_mynetworks"};
    for (int run = 0; run < 3; ++run)
        expected.insert({element(run, 1), element(run, 2)});
    const std::vector<std::string> written = korvo::mail::postfix::splitListItems(postconf(list));
    EXPECT_EQ(std::set<std::string>(written.begin(), written.end()), expected);
}

} // namespace
} // namespace korvo::test
