// The attachments store: copy in, list, remove; names leaving the store refused.
#include "StorageFixture.h"

#include "mail/storage/Attachments.h"

#include <algorithm>
#include <sstream>
#include <vector>

namespace {

using korvo::test::readFile;
using korvo::test::statOf;
using korvo::test::writeFile;

class AttachmentsTest : public korvo::test::StorageTest {
protected:
    void SetUp() override {
        StorageTest::SetUp();
        store = makeHome("example.com", "info") + "/@attachments";
        writeFile(source, "attached\n");
    }

    // The listed lines (messages have no tab), sorted.
    template <typename List> static std::vector<std::string> linesOf(List list, int& result) {
        testing::internal::CaptureStdout();
        result = list();
        std::istringstream in(testing::internal::GetCapturedStdout());
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);)
            if (line.find('\t') != std::string::npos)
                lines.push_back(line);
        std::sort(lines.begin(), lines.end());
        return lines;
    }

    const std::string source = "/var/qmail/source.txt";
    std::string store;
};

TEST_F(AttachmentsTest, AddListAndRemove) {
    ASSERT_EQ(add_attachment("info", "example.com", source.c_str(), "a.txt"), 0);
    writeFile(source, "x");
    ASSERT_EQ(add_attachment("info", "example.com", source.c_str(), "b.txt"), 0);
    EXPECT_EQ(readFile(store + "/a.txt"), "attached\n");
    EXPECT_EQ(statOf(store + "/a.txt").st_mode & 07777, 0644u);
    EXPECT_EQ(statOf(store + "/a.txt").st_uid, 0u);
    ASSERT_EQ(::mkdir((store + "/sub").c_str(), 0700), 0);

    int result = -1;
    EXPECT_EQ(linesOf([] { return list_attachments("info", "example.com", 0, 0); }, result),
              (std::vector<std::string>{"a.txt\t9", "b.txt\t1"}));
    EXPECT_EQ(result, 0);
    EXPECT_EQ(linesOf([] { return list_attachments("info", "example.com", 1, 1); }, result),
              (std::vector<std::string>{store + "/a.txt\t4096", store + "/b.txt\t4096"}));

    // Replacing keeps one file; copying a file onto itself does nothing.
    writeFile(source, "new content\n");
    ASSERT_EQ(add_attachment("info", "example.com", source.c_str(), "a.txt"), 0);
    EXPECT_EQ(readFile(store + "/a.txt"), "new content\n");
    EXPECT_EQ(add_attachment("info", "example.com", (store + "/a.txt").c_str(), "a.txt"), 0);
    EXPECT_EQ(readFile(store + "/a.txt"), "new content\n");

    EXPECT_EQ(remove_attachment("info", "example.com", "a.txt"), 0);
    EXPECT_NE(::access((store + "/a.txt").c_str(), F_OK), 0);
    testing::internal::CaptureStdout();
    EXPECT_EQ(remove_attachment("info", "example.com", "a.txt"), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST_F(AttachmentsTest, NamesOutsideTheStoreAreRefusedUntouched) {
    writeFile(store + "/keep", "keep");
    const auto before = outsideState();
    for (const char* name : {"", ".", "..", "../.qmail", "x/y", "/etc/orq/outside/victim"}) {
        EXPECT_EQ(add_attachment("info", "example.com", source.c_str(), name), -1) << name;
        EXPECT_EQ(remove_attachment("info", "example.com", name), -1) << name;
    }
    EXPECT_EQ(add_attachment("../..", "example.com", source.c_str(), "x"), -1);
    EXPECT_EQ(readFile(store + "/keep"), "keep");
    EXPECT_NE(::access((store + "/../.qmail").c_str(), F_OK), 0);
    EXPECT_EQ(outsideState(), before);
    EXPECT_EQ(add_attachment("info", "example.com", "/var/qmail/missing", "x"), -1);
    EXPECT_NE(::access((store + "/x").c_str(), F_OK), 0);
}

TEST_F(AttachmentsTest, ListingAllMailboxesOfADomain) {
    makeHome("example.com", "sales");
    ASSERT_EQ(::mkdir("/var/qmail/mailnames/example.com/nostore", 0700), 0);
    ASSERT_EQ(add_attachment("info", "example.com", source.c_str(), "a.txt"), 0);
    ASSERT_EQ(add_attachment("sales", "example.com", source.c_str(), "b.txt"), 0);
    int result = -1;
    EXPECT_EQ(linesOf([] { return list_all_attachments("example.com", 0, 1); }, result),
              (std::vector<std::string>{store + "/a.txt\t9",
                                        "/var/qmail/mailnames/example.com/sales/@attachments/"
                                        "b.txt\t9"}));
    EXPECT_EQ(result, 0);
    EXPECT_EQ(linesOf([] { return list_all_attachments("missing.example", 0, 0); }, result),
              std::vector<std::string>{});
    EXPECT_EQ(result, -1);
    EXPECT_EQ(linesOf([] { return list_attachments("nostore", "example.com", 0, 0); }, result),
              std::vector<std::string>{});
    EXPECT_EQ(result, -1);
    EXPECT_EXIT(list_attachments("", "example.com", 0, 0), ::testing::ExitedWithCode(1),
                "MailName empty for domain 'example.com'");
}

} // namespace
