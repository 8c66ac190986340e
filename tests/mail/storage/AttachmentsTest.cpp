// The attachments store: names that would leave it are refused, nothing touched.
#include "StorageFixture.h"

#include "mail/storage/Attachments.h"

namespace {

using namespace korvo::test;
using AttachmentsTest = StorageTest;

TEST_F(AttachmentsTest, NamesOutsideTheStoreAreRefusedUntouched) {
    const std::string store = makeHome("example.com", "info") + "/@attachments";
    const std::string source = "/var/qmail/source.txt";
    writeFile(source, "attached\n");
    writeFile(store + "/keep", "keep");
    const std::string before = outsideState();
    for (const char* name : {"", ".", "..", "../.qmail", "x/y", "/etc/orq/outside/victim"}) {
        EXPECT_EQ(add_attachment("info", "example.com", source.c_str(), name), -1) << name;
        EXPECT_EQ(remove_attachment("info", "example.com", name), -1) << name;
    }
    EXPECT_EQ(add_attachment("../..", "example.com", source.c_str(), "x"), -1);
    EXPECT_EQ(add_attachment("info", "example.com", "/var/qmail/missing", "x"), -1);
    EXPECT_EQ(shell("ls -A " + store + " | grep -qvx keep"), 1);
    EXPECT_NE(::access((store + "/../.qmail").c_str(), F_OK), 0);
    EXPECT_EQ(outsideState(), before);
}

} // namespace
