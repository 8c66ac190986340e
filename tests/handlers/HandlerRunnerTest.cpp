// Real registrations and real handler programs: which handlers run, in
// which order, and what their statuses and output do to the message.
#include "handlers/HandlerRunner.h"
#include "mail/handlers/RegistryFixture.h"
#include "utils/UnnamedFile.h"

#include <chrono>
#include <gtest/gtest.h>
#include <unistd.h>

namespace korvo::test {
namespace {

using handlers::ChainOutcome;
using handlers::Verdict;

const std::string programs = "/usr/local/orq/test-programs";
const std::string seen = programs + "/seen";
const handlers::MessageParties parties{"Sender@Remote.example", {"info@example.com"}};

// A handler program: a shell script of body.
std::string program(const std::string& name, const std::string& body) {
    return writeScript(programs + "/" + name, body);
}

void enable(const std::string& templ, const std::string& type, const std::string& value,
            const std::string& executable, const std::string& priority,
            const std::string& hook = handlers::HOOK_BEFORE_LOCAL) {
    ASSERT_EQ(0, mail_handler_add(templ.c_str(), type.c_str(), value.c_str(), executable.c_str(),
                                  "ctx", hook.c_str(), priority.c_str(), 2))
        << templ;
}

std::vector<handlers::Handler> found(const handlers::MessageParties& message = parties) {
    return handlers::applicableHandlers(handlers::REGISTRY_ROOT, handlers::HOOK_BEFORE_LOCAL,
                                        message);
}

class HandlerRunnerTest : public SandboxTest {
protected:
    void SetUp() override {
        SandboxTest::SetUp();
        ASSERT_EQ(0, shell("mkdir -p " + programs + " /usr/local/orq/handlers/info"));
        message_ = korvo::createUnnamedFile("/tmp");
        const std::string text = "Subject: hello\n\nbody\n";
        ASSERT_EQ(static_cast<ssize_t>(text.size()), ::write(message_, text.data(), text.size()));
    }
    void TearDown() override { ::close(message_); }

    ChainOutcome run(std::chrono::milliseconds perHandler = std::chrono::seconds(10)) {
        return handlers::runHandlers(found(), handlers::HOOK_BEFORE_LOCAL, parties, message_,
                                     {perHandler, std::chrono::seconds(20), "/tmp"});
    }

    int message_ = -1;
};

std::string names(const std::vector<handlers::Handler>& list) {
    std::string result;
    for (const handlers::Handler& handler : list)
        result += handler.name.substr(0, handler.name.rfind('-')) + " ";
    return result;
}

TEST_F(HandlerRunnerTest, OnlyTheQueuesOfTheMessageCountInPriorityOrder) {
    const std::string pass = program("pass", "exit 0");
    enable("global", "global", "", pass, "50");
    enable("domain", "recipient-domain", "example.com", pass, "5");
    enable("mine", "recipient", "Info@Example.com", pass, "0x10");
    enable("sender", "sender", "sender@remote.example", pass, "20");
    enable("senderdomain", "sender-domain", "remote.example", pass, "30");
    enable("other", "recipient", "sales@example.com", pass, "1");
    enable("queued", "recipient", "info@example.com", pass, "1", handlers::HOOK_BEFORE_QUEUE);
    enable("off", "recipient", "info@example.com", pass, "1");
    ASSERT_EQ(0, control_handler_queue(handlerName("off", "recipient", "info@example.com").c_str(),
                                       nullptr, 3));

    EXPECT_EQ("5-domain 0x10-mine 20-sender 30-senderdomain 50-global ", names(found()));
    // Two recipients of one domain: the domain's handler runs once.
    EXPECT_EQ("5-domain 0x10-mine 20-sender 30-senderdomain 50-global ",
              names(found({"sender@remote.example", {"info@example.com", "INFO@example.com"}})));
    // A bounce has no sender queues; names that cannot be queues are skipped.
    EXPECT_EQ("5-domain 50-global ", names(found({"", {"x@example.com", "../..", "a/b@c"}})));
}

TEST_F(HandlerRunnerTest, ExitStatusesAndOutputDecide) {
    // The first handler rewrites the message, the second sees the new one.
    enable("rewrite", "global", "", program("rewrite", "sed 's/hello/changed/' >&3"), "1");
    enable("look", "global", "", program("look", "cat > " + seen), "2");
    ChainOutcome outcome = run();
    EXPECT_EQ(Verdict::Pass, outcome.verdict);
    ASSERT_TRUE(outcome.replacement);
    EXPECT_EQ("Subject: changed\n\nbody\n",
              readFile("/proc/self/fd/" + std::to_string(outcome.replacement->get())));
    EXPECT_EQ("Subject: changed\n\nbody\n", readFile(seen));

    // 99 skips the rest; 100 refuses with the first output line.
    enable("stop", "global", "", program("stop", "exit 99"), "3");
    enable("refuse", "global", "", program("refuse", "printf 'no thanks\\nmore\\n'; exit 100"),
           "4");
    ::unlink(seen.c_str());
    EXPECT_EQ(Verdict::Pass, run().verdict);
    EXPECT_EQ("Subject: changed\n\nbody\n", readFile(seen));
    shell("rm -rf /usr/local/orq/handlers/*/global/3-stop-*");
    outcome = run();
    EXPECT_EQ(Verdict::Refuse, outcome.verdict);
    EXPECT_EQ("no thanks", outcome.answer);
    EXPECT_EQ(0u, outcome.handler.rfind("4-refuse-", 0));

    enable("discard", "global", "", program("discard", "exit 101"), "3");
    EXPECT_EQ(Verdict::Discard, run().verdict);
}

TEST_F(HandlerRunnerTest, AFaultyHandlerDefersAndNeverPasses) {
    enable("after", "global", "", program("after", "touch " + seen), "9");
    const std::vector<std::pair<std::string, std::string>> faults = {
        {"crash", "kill -SEGV $$"},
        {"status", "exit 3"},
        {"defer", "echo busy; exit 111"},
        // Its own child keeps the output open: the whole group goes.
        {"hang", "sleep 30 & sleep 30"},
        {"missing", ""}};
    for (const auto& [name, body] : faults) {
        shell("rm -rf /usr/local/orq/handlers/before-local/global/1-*");
        const std::string path = program(name, body);
        enable(name, "global", "", path, "1");
        if (name == "missing")
            ::unlink(path.c_str());
        const auto start = std::chrono::steady_clock::now();
        const ChainOutcome outcome = run(std::chrono::milliseconds(500));
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)) << name;
        EXPECT_EQ(Verdict::Defer, outcome.verdict) << name;
        EXPECT_NE("", outcome.answer) << name;
        EXPECT_NE(0, ::access(seen.c_str(), F_OK)) << name << ": a later handler ran";
    }
    EXPECT_NE(0, shell("pgrep -x sleep >/dev/null"));
}

} // namespace
} // namespace korvo::test
