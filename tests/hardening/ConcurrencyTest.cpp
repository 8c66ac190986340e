// Overlapping runs keep each other's changes and never show a reader a partial file.
#include "hardening/HardeningFixture.h"
#include "mail/storage/DotQMail.h"
#include "mail/storage/MaildirSize.h"
#include "mail/storage/StorageFixture.h"
#include "postfix/config/ConcurrentRuns.h"

#include <regex>
#include <stdexcept>

namespace korvo::test {
namespace {

class ConcurrencyTest : public HardeningTest {};

TEST_F(ConcurrencyTest, QmailWritersKeepEveryForward) {
    const std::string qmail = makeHome("example.com", "info") + "/.qmail";
    ASSERT_EQ(dotqmail_reset(qmail.c_str()), 0);
    ASSERT_EQ(dotqmail_add_delivery(qmail.c_str()), 0);
    ASSERT_TRUE(runConcurrently(20, [&](int index) {
        const std::string mine = "keep" + std::to_string(index) + "@example.org";
        const std::string passing = "pass" + std::to_string(index) + "@example.org";
        if (dotqmail_add_forward(qmail.c_str(), passing.c_str()) != 0 ||
            dotqmail_add_forward(qmail.c_str(), mine.c_str()) != 0 ||
            dotqmail_remove_forward(qmail.c_str(), passing.c_str()) != 0)
            throw std::runtime_error("a .qmail edit failed");
    }));
    // Twenty kept forwards and the two delivery lines, nothing else.
    const std::string text = readFile(qmail);
    EXPECT_EQ(text.rfind("| true\n| /usr/bin/deliverquota ./Maildir\n", 0), 0u) << text;
    for (int index = 0; index < 20; ++index)
        EXPECT_NE(text.find("&keep" + std::to_string(index) + "@"), std::string::npos) << text;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 22) << text;
    EXPECT_TRUE(damage().empty()) << testing::PrintToString(damage());
}

TEST_F(ConcurrencyTest, MaildirsizeReadersNeverSeeAPartialFile) {
    const std::string maildir = makeHome("example.com", "info") + "/Maildir";
    ASSERT_EQ(store_maildirpp_quota_raw(maildir.c_str(), 1000), 1);
    ASSERT_EQ(::chdir("/"), 0); // the store leaves the process in the Maildir
    const std::string path = maildir + "/maildirsize";
    const std::regex whole(R"((\d+)S,0C\n +\d+ +\d+\n)");
    // Ten writers, ten readers.
    ASSERT_TRUE(runConcurrently(20, [&](int index) {
        if (index < 10) {
            for (int round = 0; round < 10; ++round)
                if (store_maildirpp_quota_raw(maildir.c_str(), 1000 + index) != 1)
                    throw std::runtime_error("storing the quota failed");
            return;
        }
        for (int round = 0; round < 300; ++round) {
            const std::string text = readFile(path);
            if (!std::regex_match(text, whole))
                throw std::runtime_error("partial maildirsize: [" + text + "]");
        }
    }));
    std::smatch match;
    const std::string text = readFile(path);
    ASSERT_TRUE(std::regex_match(text, match, whole)) << text;
    const long quota = std::stol(match[1].str());
    EXPECT_GE(quota, 1000);
    EXPECT_LT(quota, 1010);
    EXPECT_TRUE(damage().empty()) << testing::PrintToString(damage());
}

// Twenty runs on disjoint entities end in the tables the same runs leave one by one.
TEST_F(ConcurrencyTest, TwentyRunsAtOnceLeaveTheTablesOfTheirFinalState) {
    const auto prepare = [this] {
        serveDomain("main.test");
        for (const std::string n : {"0", "1", "2", "3"}) {
            serveDomain("gone" + n + ".test");
            serveMailname("gone" + n + ".test", "box");
            serveMailname("main.test", "aliased" + n);
            serveMailname("main.test", "old" + n);
        }
    };
    std::vector<std::vector<std::string>> runs;
    for (const std::string n : {"0", "1", "2", "3"}) {
        for (const std::string half : {"a", "b"})
            runs.push_back(
                {"--add-mailname", "--domain-name=main.test", "--mailname=new" + n + half});
        runs.push_back({"--add-alias", "--domain-name=main.test", "--mailname=aliased" + n,
                        "--alias=alias" + n});
        runs.push_back({"--remove-domain", "--domain-name=gone" + n + ".test"});
        runs.push_back({"--rename-mailname", "--domain-name=main.test", "--old-mailname=old" + n,
                        "--new-mailname=renamed" + n});
    }

    prepare();
    ASSERT_TRUE(runConcurrently(20, [&](int index) {
        const CommandResult result = runVornctl(runs[index]);
        if (result.status != 0)
            throw std::runtime_error(runs[index][0] + ": " + result.err);
    }));
    const std::vector<std::string> together = tableLines();
    EXPECT_TRUE(damage().empty()) << testing::PrintToString(damage());

    HardeningTest::SetUp();
    prepare();
    for (const auto& run : runs)
        succeeds(run);
    const std::vector<std::string> oneByOne = tableLines();

    EXPECT_EQ(together, oneByOne) << "lost:\n"
                                  << testing::PrintToString(missingFrom(oneByOne, together))
                                  << "\nextra:\n"
                                  << testing::PrintToString(missingFrom(together, oneByOne));
    // Named records, so that equal but empty tables fail.
    const std::string all = testing::PrintToString(oneByOne);
    for (const char* expected : {"new3b@main.test", "alias3@main.test", "renamed2@main.test"})
        EXPECT_NE(all.find(expected), std::string::npos) << expected << "\n" << all;
    for (const char* gone : {"old1@main.test", "gone0.test"})
        EXPECT_EQ(all.find(gone), std::string::npos) << gone << "\n" << all;
}

} // namespace
} // namespace korvo::test
