// Handlers are plain files that the delivery side reads: each test checks
// the registry on disk after the call, not only the result.
#include "mail/MailHandlers.h"
#include "mail/HandlerNames.h"
#include "mail/handlers/RegistryFixture.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <regex>

using namespace korvo::test;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

const std::string kQueue = kRoot + "/before-local/recipient/info@example.com";

class MailHandlersTest : public RegistryTest {};

std::string nameOf(const char* templ, const char* type, const char* value, const char* hook) {
    char* found = get_handler_name(templ, type, value, hook);
    const std::string name = found != nullptr ? found : "";
    std::free(found);
    return name;
}

// The delivery side runs a queue in this order: priority read as with %i,
// then template, then random part.
TEST(HandlerNamesTest, SortOrderAndNameParts) {
    std::vector<std::string> names = {"10-b-aaaaaa", "9-m-xxxxxx",   "010-a-bbbbbb",
                                      "10-a-cccccc", "0x5-z-aaaaaa", "10-a-bbbbbb"};
    std::vector<char*> pointers;
    for (std::string& name : names)
        pointers.push_back(&name[0]);
    handlers_sort(pointers.data(), pointers.size());
    EXPECT_EQ(std::vector<std::string>(pointers.begin(), pointers.end()),
              (std::vector<std::string>{"0x5-z-aaaaaa", "010-a-bbbbbb", "9-m-xxxxxx", "10-a-bbbbbb",
                                        "10-a-cccccc", "10-b-aaaaaa"}));

    HandlerNameParts parts;
    ASSERT_EQ(handler_name_split("10-spam-check-Qd83Kx", &parts), 0);
    EXPECT_EQ(parts.priority + "|" + parts.templ + "|" + parts.random, "10|spam-check|Qd83Kx");
    for (const char* bad : {"nodash", "10-onlyone", "10--Qd83Kx"})
        EXPECT_EQ(handler_name_split(bad, &parts), -1) << bad;
}

TEST_F(MailHandlersTest, AddWritesParameterFilesLinkAndQueueEntry) {
    ASSERT_EQ(mail_handler_add("spamcheck", "Recipient", "Info@Example.COM", "/bin/true", "ctx",
                               "before-local", "10", HANDLER_ENABLE),
              0);
    const std::string name = handlerWith("spamcheck");
    EXPECT_TRUE(std::regex_match(name, std::regex("10-spamcheck-[A-Za-z0-9]{6}")));
    const std::string dir = kInfo + "/" + name;
    EXPECT_EQ(statOf(dir).st_mode & 07777, 0755u);
    EXPECT_EQ(param(name, "hook") + param(name, "context") + param(name, "handler-type") +
                  param(name, "recipient"),
              "before-local\nctx\nrecipient\ninfo@example.com\n");
    EXPECT_EQ(entriesOf(dir), (std::vector<std::string>{"context", "executable", "handler-type",
                                                        "hook", "recipient"}));
    EXPECT_EQ(statOf(dir + "/hook").st_mode & 07777, 0644u);
    char target[64] = {};
    ASSERT_GT(::readlink((dir + "/executable").c_str(), target, sizeof target - 1), 0);
    EXPECT_STREQ(target, "/bin/true");

    const struct stat entry = statOf(kQueue + "/" + name);
    EXPECT_TRUE(S_ISREG(entry.st_mode) && entry.st_size == 0 && (entry.st_mode & 07777) == 0644);
    EXPECT_EQ(statOf(kQueue).st_mode & 07777, 0755u);
    EXPECT_NE(readFile(kSyncCalls).find("refresh\n"), std::string::npos);

    // Found by part of its template and its address in any case.
    EXPECT_EQ(nameOf("spam", "recipient", "INFO@example.com", "before-local"), name);
    EXPECT_EQ(nameOf("spam", "sender", "info@example.com", "before-local"), "");
    EXPECT_EQ(nameOf("spam", "recipient", "info@example.com", "before-queue"), "");
}

TEST_F(MailHandlersTest, GlobalHandlerWithoutContextAndDisabled) {
    ASSERT_EQ(mail_handler_add("audit", "GLOBAL", nullptr, "/bin/true", "", "before-queue", "5",
                               HANDLER_DISABLE),
              0);
    const std::string name = handlerWith("audit");
    EXPECT_EQ(entriesOf(kInfo + "/" + name),
              (std::vector<std::string>{"executable", "global", "handler-type", "hook"}));
    EXPECT_FALSE(pathExists(kRoot + "/before-queue/global"));
    EXPECT_EQ(nameOf("audit", "global", nullptr, "before-queue"), name);

    // A global handler is its own copy for every address.
    EXPECT_EQ(control_handler_queue(name.c_str(), "x@example.com", HANDLER_COPY), 0);
    EXPECT_EQ(entriesOf(kInfo), std::vector<std::string>{name});

    // Copying needs the context, which a handler added without one lacks.
    add("nocontext", "sender", "a@example.com", HANDLER_ENABLE, "before-queue", "");
    const std::string bare = handlerWith("nocontext");
    CaptureStdout();
    EXPECT_EQ(control_handler_queue(bare.c_str(), "x@example.com", HANDLER_COPY), -1);
    EXPECT_NE(GetCapturedStdout().find("No such parameter 'context'"), std::string::npos);
    EXPECT_EQ(entriesOf(kInfo).size(), 2u);
}

TEST_F(MailHandlersTest, EnableTwiceThenDisableRemovesTheEmptiedQueue) {
    add("a", "recipient", "info@example.com", HANDLER_DISABLE);
    add("b", "recipient", "info@example.com", HANDLER_ENABLE);
    const std::string a = handlerWith("-a-");
    const std::string b = handlerWith("-b-");
    EXPECT_EQ(control_handler_queue(a.c_str(), nullptr, HANDLER_QUERY), 0);
    EXPECT_EQ(control_handler_queue(a.c_str(), nullptr, HANDLER_ENABLE), 0);
    EXPECT_EQ(control_handler_queue(a.c_str(), nullptr, HANDLER_ENABLE), 0);
    EXPECT_EQ(entriesOf(kQueue), (std::vector<std::string>{a, b}));
    EXPECT_EQ(control_handler_queue(a.c_str(), nullptr, HANDLER_QUERY), 1);

    EXPECT_EQ(control_handler_queue(a.c_str(), nullptr, HANDLER_DISABLE), 0);
    EXPECT_EQ(control_handler_queue(b.c_str(), nullptr, HANDLER_DISABLE), 0);
    EXPECT_FALSE(pathExists(kQueue));
    EXPECT_TRUE(pathExists(kRoot + "/before-local/recipient"));
    EXPECT_EQ(control_handler_queue(b.c_str(), nullptr, HANDLER_DISABLE), 0);
    CaptureStdout();
    EXPECT_EQ(control_handler_queue(b.c_str(), nullptr, 7), -1);
    GetCapturedStdout();

    EXPECT_EQ(mail_handler_remove(a.c_str()), 0);
    EXPECT_EQ(entriesOf(kInfo), std::vector<std::string>{b});
    EXPECT_EQ(mail_handler_remove(a.c_str()), -1);
}

// The command tests cover an enabled handler's rename; here the disabled
// state, an unchanged context and a refused update.
TEST_F(MailHandlersTest, UpdateKeepsStateAndContextUnderANewName) {
    add("spam", "sender", "b@example.com", HANDLER_DISABLE, "before-queue", "ctx");
    const std::string oldB = handlerWith("spam");
    ASSERT_EQ(mail_handler_update("spam", "sender", "B@example.com", "/bin/false", "",
                                  "before-queue", "0x20"),
              0);
    const std::string newB = nameOf("spam", "sender", "b@example.com", "before-queue");
    EXPECT_EQ(newB.substr(0, 10), "0x20-spam-");
    EXPECT_FALSE(pathExists(kInfo + "/" + oldB));
    EXPECT_EQ(param(newB, "context"), "ctx\n");
    EXPECT_EQ(control_handler_queue(newB.c_str(), nullptr, HANDLER_QUERY), 0);

    EXPECT_EQ(mail_handler_update("spam", "sender", "b@example.com", "/no/such/program", "",
                                  "before-queue", ""),
              -1);
    EXPECT_EQ(mail_handler_update("spam", "sender", "c@example.com", "", "", "before-queue", ""),
              -1);
    EXPECT_EQ(nameOf("spam", "sender", "b@example.com", "before-queue"), newB);
}

TEST_F(MailHandlersTest, NamesThatWouldLeaveTheRegistryAreRefused) {
    // template, type, value, hook
    const std::vector<std::vector<const char*>> refused = {
        {"x", "recipient", "../../../../etc/evil", "before-local"},
        {"x", "recipient", "..", "before-local"},
        {"x", "recipient", ".", "before-local"},
        {"x", "recipient", "a/b", "before-local"},
        {"x", "recipient", "", "before-local"},
        {"x", "global", nullptr, "../.."},
        {"../x", "global", nullptr, "before-local"},
        {"x", "nosuchtype", "a@b", "before-local"}};
    for (const auto& r : refused)
        EXPECT_EQ(mail_handler_add(r[0], r[1], r[2], "/bin/true", "c", r[3], "1", HANDLER_ENABLE),
                  -1)
            << r[0] << " " << r[1] << " " << r[3];
    EXPECT_TRUE(entriesOf(kRoot).empty());
    EXPECT_FALSE(pathExists("/etc/evil"));

    add("x", "recipient", "a@b", HANDLER_ENABLE);
    for (const char* name : {"..", ".", "../info", ""}) {
        EXPECT_EQ(mail_handler_remove(name), -1) << name;
        EXPECT_EQ(control_handler_queue(name, nullptr, HANDLER_REMOVE), -1) << name;
    }
    EXPECT_EQ(entriesOf(kInfo).size(), 1u);

    // A parameter file that names a directory outside its queue is refused.
    const std::string name = handlerWith("-x-");
    writeFile(kInfo + "/" + name + "/recipient", "../../../../../etc/evil\n");
    EXPECT_EQ(control_handler_queue(name.c_str(), nullptr, HANDLER_ENABLE), -1);
    EXPECT_FALSE(pathExists("/etc/evil"));
    EXPECT_EQ(mail_handler_check_all("../x", "before-queue"), -1);
}

TEST_F(MailHandlersTest, FailingSyncProgramIsOnlyReported) {
    writeFile(kSyncStatus, "3\n");
    CaptureStdout();
    add("x", "recipient", "a@b", HANDLER_ENABLE);
    EXPECT_NE(GetCapturedStdout().find("Cannot sync tmps storage to fs"), std::string::npos);
    EXPECT_EQ(readFile(kSyncCalls), "refresh\n");

    // Without the owner's execute bit the program is not run at all.
    ::chmod(KORVO_HANDLERS_SYNC, 0644);
    EXPECT_EQ(mail_handler_remove(handlerWith("-x-").c_str()), 0);
    EXPECT_EQ(readFile(kSyncCalls), "refresh\n");
    EXPECT_TRUE(entriesOf(kInfo).empty());
}

TEST_F(MailHandlersTest, CheckAllLooksAtEveryQueueOfTheAddress) {
    EXPECT_EQ(mail_handler_check_all("a@example.com", "before-local"), 0);
    add("d", "sender-domain", "Example.com", HANDLER_ENABLE);
    EXPECT_EQ(mail_handler_check_all("A@EXAMPLE.COM", "before-local"), 1);
    EXPECT_EQ(mail_handler_check_all("a@example.com", "before-queue"), 0);
    add("g", "global", nullptr, HANDLER_ENABLE, "before-queue");
    EXPECT_EQ(mail_handler_check_all("nobody", "before-queue"), 1);
}

} // namespace
