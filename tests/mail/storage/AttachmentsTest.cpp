// The attachments store: copy in, list, remove; names leaving the store refused.
#include "StorageFixture.h"

#include "mail/storage/Attachments.h"
#include "sandbox/CapturedOutput.h"

#include <functional>
#include <sstream>

namespace {

using korvo::test::readFile;
using korvo::test::writeFile;

class AttachmentsTest : public korvo::test::StorageTest {
protected:
    void SetUp() override {
        StorageTest::SetUp();
        store = makeHome("example.com", "info") + "/@attachments";
        writeFile(source, "attached\n");
    }

    // The lines list printed (messages have no tab), then its result.
    static std::string listed(const std::function<int()>& list) {
        korvo::test::CapturedStdout capturedStdout;
        const int result = list();
        std::istringstream in(capturedStdout.text());
        std::string lines;
        for (std::string line; std::getline(in, line);)
            lines += line.find('\t') != std::string::npos ? line + "\n" : "";
        return lines + std::to_string(result);
    }

    const std::string source = "/var/qmail/source.txt";
    std::string store;
};

TEST_F(AttachmentsTest, AddListAndRemove) {
    ASSERT_EQ(add_attachment("info", "example.com", source.c_str(), "a.txt"), 0);
    ASSERT_EQ(::mkdir((store + "/sub").c_str(), 0700), 0);
    EXPECT_EQ(korvo::test::statOf(store + "/a.txt").st_uid, 0u);
    EXPECT_EQ(listed([] { return list_attachments("info", "example.com", 1, 1); }),
              store + "/a.txt\t4096\n0");
    // Replacing keeps one file; copying a file onto itself does nothing.
    writeFile(source, "new content\n");
    ASSERT_EQ(add_attachment("info", "example.com", source.c_str(), "a.txt"), 0);
    EXPECT_EQ(add_attachment("info", "example.com", (store + "/a.txt").c_str(), "a.txt"), 0);
    EXPECT_EQ(readFile(store + "/a.txt"), "new content\n");
    // A mailbox without a store is skipped in the domain's list, refused on its own.
    ASSERT_EQ(::mkdir("/var/qmail/mailnames/example.com/nostore", 0700), 0);
    EXPECT_EQ(listed([] { return list_all_attachments("example.com", 0, 0); }), "a.txt\t12\n0");
    EXPECT_EQ(list_all_attachments("missing.example", 0, 0), -1);
    EXPECT_EQ(list_attachments("nostore", "example.com", 0, 0), -1);
    EXPECT_EXIT(list_attachments("", "example.com", 0, 0), ::testing::ExitedWithCode(1),
                "MailName empty for domain 'example.com'");
    EXPECT_EQ(remove_attachment("info", "example.com", "a.txt"), 0);
    EXPECT_NE(::access((store + "/a.txt").c_str(), F_OK), 0);
}

TEST_F(AttachmentsTest, NamesOutsideTheStoreAreRefusedUntouched) {
    writeFile(store + "/keep", "keep");
    const std::string before = outsideState();
    for (const char* name : {"", ".", "..", "../.qmail", "x/y", "/etc/orq/outside/victim"}) {
        EXPECT_EQ(add_attachment("info", "example.com", source.c_str(), name), -1) << name;
        EXPECT_EQ(remove_attachment("info", "example.com", name), -1) << name;
    }
    EXPECT_EQ(add_attachment("../..", "example.com", source.c_str(), "x"), -1);
    EXPECT_EQ(add_attachment("info", "example.com", "/var/qmail/missing", "x"), -1);
    EXPECT_EQ(korvo::test::shell("ls -A " + store + " | grep -qvx keep"), 1);
    EXPECT_NE(::access((store + "/../.qmail").c_str(), F_OK), 0);
    EXPECT_EQ(outsideState(), before);
}

} // namespace
