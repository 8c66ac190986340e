// Handlers are plain files the delivery side reads: tests check the registry on disk.
#include "mail/handlers/MailHandlers.h"
#include "mail/handlers/MassHandlers.h"
#include "mail/handlers/RegistryFixture.h"
#include "sandbox/CapturedOutput.h"

#include <gtest/gtest.h>

using namespace korvo::test;
using Names = std::vector<std::string>;

namespace {

const std::string kQueue = kRoot + "/before-local/recipient/info@example.com";
const std::string kSyncCalls = "/run/vornctl-sandbox/handlers-tmpfs.calls";

class MailHandlersTest : public RegistryTest {
protected:
    // "TEMPLATE TYPE:VALUE" of every handler, sorted, " (disabled)" when not enabled.
    static Names bindings() {
        Names result;
        for (const std::string& name : entries(kInfo)) {
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

TEST_F(MailHandlersTest, AddEnableDisableUpdateAndRemove) {
    add("spamcheck", "Recipient", "Info@Example.COM", HANDLER_ENABLE, "before-local", "ctx");
    const std::string a = handlerWith("spamcheck");
    // The mail account reading the entries is proven by the handlers run in tests/flow.
    const std::string dir = kInfo + "/" + a;
    EXPECT_EQ(handlerName("spam", "recipient", "INFO@example.com", "before-local"), a);
    EXPECT_EQ(handlerName("spam", "sender", "info@example.com", "before-local"), "");
    EXPECT_EQ(handlerName("spam", "recipient", "info@example.com", "before-queue"), "");

    add("b", "recipient", "info@example.com", HANDLER_DISABLE);
    const std::string b = handlerWith("-b-");
    EXPECT_EQ(control_handler_queue(b.c_str(), nullptr, HANDLER_QUERY), 0);
    for (int run = 0; run < 2; ++run)
        EXPECT_EQ(control_handler_queue(b.c_str(), nullptr, HANDLER_ENABLE), 0);
    EXPECT_EQ(entries(kQueue), (Names{b, a}));
    EXPECT_EQ(control_handler_queue(b.c_str(), nullptr, HANDLER_QUERY), 1);
    EXPECT_EQ(control_handler_queue(a.c_str(), nullptr, HANDLER_DISABLE), 0);
    EXPECT_EQ(control_handler_queue(b.c_str(), nullptr, HANDLER_DISABLE), 0);
    EXPECT_FALSE(exists(kQueue));
    EXPECT_TRUE(exists(kRoot + "/before-local/recipient"));

    // An update renames; the disabled state and the context must follow.
    ASSERT_EQ(mail_handler_update("spamcheck", "recipient", "info@example.com", "/bin/false", "",
                                  "before-local", "0x20"),
              0);
    const std::string renamed =
        handlerName("spamcheck", "recipient", "info@example.com", "before-local");
    EXPECT_EQ(renamed.substr(0, 15), "0x20-spamcheck-");
    EXPECT_FALSE(exists(dir));
    EXPECT_EQ(param(renamed, "context"), "ctx\n");
    EXPECT_EQ(control_handler_queue(renamed.c_str(), nullptr, HANDLER_QUERY), 0);
    EXPECT_EQ(mail_handler_update("spamcheck", "recipient", "info@example.com", "/no/such/program",
                                  "", "before-local", ""),
              -1);
    EXPECT_EQ(handlerName("spamcheck", "recipient", "info@example.com", "before-local"), renamed);

    EXPECT_EQ(mail_handler_remove(renamed.c_str()), 0);
    EXPECT_EQ(entries(kInfo), Names{b});
    EXPECT_EQ(mail_handler_remove(renamed.c_str()), -1);
}

TEST_F(MailHandlersTest, GlobalContextlessAndCheckAll) {
    ASSERT_EQ(mail_handler_add("audit", "GLOBAL", nullptr, "/bin/true", "", "before-queue", "5",
                               HANDLER_DISABLE),
              0);
    const std::string name = handlerWith("audit");
    EXPECT_FALSE(exists(kRoot + "/before-queue/global"));
    EXPECT_EQ(mail_handler_check_all("nobody", "before-queue"), 0);
    EXPECT_EQ(control_handler_queue(name.c_str(), nullptr, HANDLER_ENABLE), 0);
    EXPECT_EQ(mail_handler_check_all("nobody", "before-queue"), 1);
    EXPECT_EQ(control_handler_queue(name.c_str(), "x@example.com", HANDLER_COPY), 0);
    EXPECT_EQ(entries(kInfo), Names{name});

    // Copying needs the context, which a handler added without one lacks.
    add("nocontext", "sender", "a@example.com", HANDLER_ENABLE, "before-local", "");
    const std::string bare = handlerWith("nocontext");
    CapturedStdout capturedStdout;
    EXPECT_EQ(control_handler_queue(bare.c_str(), "x@example.com", HANDLER_COPY), -1);
    EXPECT_EQ(entries(kInfo).size(), 2u);

    add("d", "sender-domain", "Example.com", HANDLER_ENABLE);
    EXPECT_EQ(mail_handler_check_all("B@EXAMPLE.COM", "before-local"), 1);
}

TEST_F(MailHandlersTest, NamesThatWouldLeaveTheRegistryAreRefused) {
    const std::vector<std::vector<const char*>> refused = {
        {"x", "recipient", "../../../../etc/evil", "before-local"},
        {"x", "recipient", "..", "before-local"},
        {"x", "recipient", "", "before-local"},
        {"x", "global", nullptr, "../.."},
        {"../x", "global", nullptr, "before-local"},
        {"x", "nosuchtype", "a@b", "before-local"}};
    for (const auto& r : refused)
        EXPECT_EQ(mail_handler_add(r[0], r[1], r[2], "/bin/true", "c", r[3], "1", HANDLER_ENABLE),
                  -1)
            << r[0] << " " << r[1] << " " << r[3];
    EXPECT_TRUE(entries(kRoot).empty());
    EXPECT_FALSE(exists("/etc/evil"));

    add("x", "recipient", "a@b", HANDLER_ENABLE);
    for (const char* name : {"..", ".", "../info", ""}) {
        EXPECT_EQ(mail_handler_remove(name), -1) << name;
        EXPECT_EQ(control_handler_queue(name, nullptr, HANDLER_REMOVE), -1) << name;
    }
    EXPECT_EQ(entries(kInfo).size(), 1u);

    // A parameter file that names a directory outside its queue is refused.
    const std::string name = handlerWith("-x-");
    writeFile(kInfo + "/" + name + "/recipient", "../../../../../etc/evil\n");
    EXPECT_EQ(control_handler_queue(name.c_str(), nullptr, HANDLER_ENABLE), -1);
    EXPECT_FALSE(exists("/etc/evil"));
    EXPECT_EQ(mail_handler_check_all("../x", "before-queue"), -1);
}

TEST_F(MailHandlersTest, FailingSyncProgramIsOnlyReported) {
    writeFile("/run/vornctl-sandbox/handlers-tmpfs.status", "3\n");
    CapturedStdout capturedStdout;
    add("x", "recipient", "a@b", HANDLER_ENABLE);
    EXPECT_EQ(readFile(kSyncCalls), "refresh\n");
    ::chmod(KORVO_HANDLERS_SYNC, 0644);
    EXPECT_EQ(mail_handler_remove(handlerWith("-x-").c_str()), 0);
    EXPECT_EQ(readFile(kSyncCalls), "refresh\n");
    EXPECT_TRUE(entries(kInfo).empty());
}

TEST_F(MailHandlersTest, MassCopyMoveAndRemoveByAddressAndByDomain) {
    add("rcpt", "recipient", "a@old.com", HANDLER_ENABLE);
    add("dom", "sender-domain", "old.com", HANDLER_DISABLE);
    add("snd", "sender", "b@old.com", HANDLER_ENABLE);
    add("other", "recipient", "a@other.com", HANDLER_ENABLE);
    add("all", "global", nullptr, HANDLER_ENABLE);

    EXPECT_EQ(mass_control_handler_by_mailname("a@old.com", "a@new.com", HANDLER_COPY), 0);
    EXPECT_EQ(bindings(), (Names{"all global:", "dom sender-domain:old.com (disabled)",
                                 "other recipient:a@other.com", "rcpt recipient:a@new.com",
                                 "rcpt recipient:a@old.com", "snd sender:b@old.com"}));

    EXPECT_EQ(mass_control_handler_by_mailname("old.com", "new.com", HANDLER_MOVE), 0);
    EXPECT_EQ(bindings(),
              (Names{"all global:", "dom sender-domain:new.com", "other recipient:a@other.com",
                     "rcpt recipient:a@new.com", "snd sender:b@new.com"}));
    EXPECT_EQ(entries(kRoot + "/before-local/recipient"), (Names{"a@new.com", "a@other.com"}));
    EXPECT_EQ(entries(kRoot + "/before-local/sender"), Names{"b@new.com"});

    EXPECT_EQ(mass_control_handler_by_mailname("new.com", nullptr, HANDLER_REMOVE), 0);
    EXPECT_EQ(mass_control_handler_by_mailname("", nullptr, HANDLER_REMOVE), -1);
    EXPECT_EQ(bindings(), (Names{"all global:", "other recipient:a@other.com"}));

    // A broken entry is counted as an error; the others are still done.
    ASSERT_EQ(::mkdir((kInfo + "/broken").c_str(), 0755), 0);
    CapturedStdout capturedStdout;
    EXPECT_EQ(mass_control_handler_queue("all", HANDLER_DISABLE), -1);
    EXPECT_EQ(mass_control_handler_by_mailname("other.com", nullptr, HANDLER_REMOVE), -1);
    EXPECT_NE(capturedStdout.text().find("errors: 1\n"), std::string::npos);
    EXPECT_TRUE(entries(kRoot + "/before-local/global").empty());
    EXPECT_EQ(entries(kInfo).size(), 2u);
    EXPECT_TRUE(entries(kRoot + "/before-local/recipient").empty());

    // One pass for many addresses: the broken entry could be anyone's, so
    // every address is reported, and the handler bound to one still goes.
    add("late", "recipient", "l@late.com", HANDLER_ENABLE);
    EXPECT_EQ(mass_remove_handlers_of({"l@late.com", "m@late.com"}),
              (Names{"l@late.com", "m@late.com"}));
    EXPECT_EQ(entries(kInfo).size(), 2u);
}

} // namespace
