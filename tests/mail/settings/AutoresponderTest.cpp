// An autoresponder added twice or for the wrong address answers mail twice or not at all.
#include "mail/Autoresponder.h"
#include "mail/MailHandlers.h"
#include "mail/handlers/RegistryFixture.h"

#include <gtest/gtest.h>
#include <string>

using namespace korvo::test;

namespace {

class AutoresponderTest : public RegistryTest {
protected:
    void SetUp() override {
        RegistryTest::SetUp();
        ASSERT_EQ(shell("mkdir -p /usr/local/orq/handlers/hooks && install -m 0755 " +
                        sandboxFile("autoresponder-hook") + " " KORVO_AUTORESPONDER_HOOK),
                  0);
    }

    static std::string responderOf(const std::string& address) {
        char* name =
            get_handler_name("autoresponder", "recipient", address.c_str(), "before-local");
        const std::string result = name != nullptr ? name : "";
        std::free(name);
        return result;
    }
};

TEST_F(AutoresponderTest, AddsOnlyMissingHandlersAndRemovesThem) {
    ASSERT_EQ(autoresponder_action("first", "Example.com", AUTORESPONDER_ADD), 0);
    const std::string first = responderOf("first@example.com");
    ASSERT_NE(first, "");

    ASSERT_EQ(
        autoresponder_action("first, second", "Example.com,bücher.example", AUTORESPONDER_ADD), 0);
    EXPECT_EQ(responderOf("first@example.com"), first);
    const std::string second = responderOf("second@xn--bcher-kva.example");
    ASSERT_NE(second, "");
    EXPECT_EQ(entriesOf(kInfo).size(), 4u);
    EXPECT_EQ(second.substr(0, 17), "90-autoresponder-");
    char target[128] = {};
    ASSERT_GT(::readlink((kInfo + "/" + second + "/executable").c_str(), target, sizeof target - 1),
              0);
    EXPECT_STREQ(target, KORVO_AUTORESPONDER_HOOK);

    // One bad mailname fails the call but not the others.
    EXPECT_EQ(autoresponder_action("a/b,third", "example.com", AUTORESPONDER_ADD), -1);
    EXPECT_NE(responderOf("third@example.com"), "");
    // An over-long address stops everything before any change.
    const std::string tooLong = "fourth," + std::string(250, 'x');
    EXPECT_EQ(autoresponder_action(tooLong.c_str(), "example.com", AUTORESPONDER_ADD), -1);
    EXPECT_EQ(responderOf("fourth@example.com"), "");

    EXPECT_EQ(autoresponder_action("first,second,third", "example.com,bücher.example",
                                   AUTORESPONDER_REMOVE),
              0);
    EXPECT_TRUE(entriesOf(kInfo).empty());
    EXPECT_TRUE(entriesOf(kRoot + "/before-local/recipient").empty());
}

} // namespace
