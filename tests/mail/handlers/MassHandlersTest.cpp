// Renaming or removing a mailname or domain carries its handlers along
// through the mass operations; a broken handler must not stop the others.
#include "mail/MassHandlers.h"
#include "mail/MailHandlers.h"
#include "mail/handlers/RegistryFixture.h"

#include <algorithm>
#include <gtest/gtest.h>

using namespace korvo::test;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

class MassHandlersTest : public RegistryTest {
protected:
    // "TEMPLATE TYPE:VALUE" of every handler, sorted, with " (disabled)"
    // when it is not enabled.
    static std::vector<std::string> bindings() {
        std::vector<std::string> result;
        for (const std::string& name : entriesOf(kInfo)) {
            std::string type = param(name, "handler-type");
            type.pop_back();
            std::string value = param(name, type);
            if (!value.empty())
                value.pop_back();
            const bool enabled = control_handler_queue(name.c_str(), nullptr, HANDLER_QUERY) == 1;
            const std::string templ = name.substr(3, name.size() - 10);
            result.push_back(templ + " " + type + ":" + value + (enabled ? "" : " (disabled)"));
        }
        std::sort(result.begin(), result.end());
        return result;
    }
};

TEST_F(MassHandlersTest, CopyAndMoveByAddressAndByDomain) {
    add("rcpt", "recipient", "a@old.com", HANDLER_ENABLE);
    add("dom", "sender-domain", "old.com", HANDLER_DISABLE);
    add("snd", "sender", "b@old.com", HANDLER_ENABLE);
    add("other", "recipient", "a@other.com", HANDLER_ENABLE);
    add("all", "global", nullptr, HANDLER_ENABLE);

    EXPECT_EQ(mass_control_handler_by_mailname("a@old.com", "a@new.com", HANDLER_COPY), 0);
    EXPECT_EQ(bindings(),
              (std::vector<std::string>{"all global:", "dom sender-domain:old.com (disabled)",
                                        "other recipient:a@other.com", "rcpt recipient:a@new.com",
                                        "rcpt recipient:a@old.com", "snd sender:b@old.com"}));

    // Moves the domain's handler and its addresses'; the copy above is not made twice.
    EXPECT_EQ(mass_control_handler_by_mailname("old.com", "new.com", HANDLER_MOVE), 0);
    EXPECT_EQ(bindings(),
              (std::vector<std::string>{"all global:", "dom sender-domain:new.com",
                                        "other recipient:a@other.com", "rcpt recipient:a@new.com",
                                        "snd sender:b@new.com"}));
    EXPECT_EQ(entriesOf(kRoot + "/before-local/recipient"),
              (std::vector<std::string>{"a@new.com", "a@other.com"}));
    EXPECT_EQ(entriesOf(kRoot + "/before-local/sender"), std::vector<std::string>{"b@new.com"});

    EXPECT_EQ(mass_control_handler_by_mailname("new.com", nullptr, HANDLER_REMOVE), 0);
    EXPECT_EQ(bindings().size(), 2u);
    EXPECT_EQ(mass_control_handler_by_mailname("", nullptr, HANDLER_REMOVE), -1);
    EXPECT_EQ(bindings().size(), 2u);
}

TEST_F(MassHandlersTest, FailuresAreCountedAndTheOthersStillDone) {
    add("spam", "recipient", "a@x.com", HANDLER_ENABLE);
    add("spam", "recipient", "b@x.com", HANDLER_ENABLE);
    add("spamx", "recipient", "c@x.com", HANDLER_ENABLE);
    ASSERT_EQ(::mkdir((kInfo + "/broken").c_str(), 0755), 0);

    CaptureStdout();
    EXPECT_EQ(mass_control_handler_queue("spam", HANDLER_DISABLE), -1);
    EXPECT_NE(GetCapturedStdout().find("errors: 1"), std::string::npos);
    EXPECT_EQ(entriesOf(kRoot + "/before-local/recipient"), std::vector<std::string>{"c@x.com"});

    CaptureStdout();
    EXPECT_EQ(mass_control_handler_by_mailname("x.com", nullptr, HANDLER_REMOVE), -1);
    EXPECT_NE(GetCapturedStdout().find("errors: 1"), std::string::npos);
    EXPECT_EQ(entriesOf(kInfo), std::vector<std::string>{"broken"});
    EXPECT_TRUE(entriesOf(kRoot + "/before-local/recipient").empty());
}

} // namespace
