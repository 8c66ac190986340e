#include "postfix/config/MasterCfIO.h"
#include "sandbox/Sandbox.h"
#include "sandbox/TestFiles.h"
#include "utils/Exceptions.h"

#include <boost/filesystem.hpp>
#include <sstream>

using namespace korvo::mail::postfix;
using namespace korvo::test;

namespace {

bool parses(const std::string& text, MasterCfContent& content) {
    return parseMasterCf(text.data(), text.data() + text.size(), content);
}

std::string stored(const MasterCfContent& content) {
    std::ostringstream out;
    writeMasterCf(out, content);
    return out.str();
}

TEST(MasterCfParse, FilesStoreBackUnchangedAndEntriesKeepOnlyTheirOwnWords) {
    for (const char* name : {"master.cf.debian12", "master.cf.realworld"}) {
        const std::string text = testData(name);
        MasterCfContent content;
        ASSERT_TRUE(parses(text, content)) << name;
        EXPECT_EQ(stored(content), text) << name;
        const ModuleInfo tlsmgr = content.getModule("tlsmgr", ModuleType::UNIX).first;
        EXPECT_EQ(tlsmgr.wakeup, 1000);
        EXPECT_TRUE(tlsmgr.wakeupConditional);
        EXPECT_EQ(content.getModule("relay", ModuleType::UNIX).first.format(),
                  "relay unix - - y - - smtp -o syslog_name=postfix/$service_name");
    }
    // Continuations with an inner comment, a tab and a carriage return.
    MasterCfContent content;
    ASSERT_TRUE(parses(testData("master.cf.realworld"), content));
    EXPECT_EQ(content.getModule("submission", ModuleType::INET).first.command.size(), 7u);

    // Keys are name and type; a later duplicate replaces the earlier one in place.
    MasterCfContent keyed;
    ASSERT_TRUE(parses("smtp inet n - y - - smtpd\n# between\nsmtp unix - - y - - smtp\n"
                       "smtp inet n - y - 100 smtpd -o x=1\n",
                       keyed));
    EXPECT_EQ(stored(keyed),
              "smtp inet n - y - 100 smtpd -o x=1\n# between\nsmtp unix - - y - - smtp\n");
    EXPECT_TRUE(keyed.removeModule("smtp", ModuleType::UNIX));
    EXPECT_FALSE(keyed.removeModule("smtp", ModuleType::UNIX));
    EXPECT_THROW(keyed.getModule("smtp", ModuleType::UNIX), std::out_of_range);
}

TEST(MasterCfParse, RefusesWhatPostfixWouldMisread) {
    const char* const refused[] = {
        "Smtp inet n - y - - smtpd\n",           // upper case in the name
        "smtp tcp n - y - - smtpd\n",            // unknown type
        "smtp unix-stream n - y - - smtpd\n",    // only unix-dgram extends unix
        "smtp inet n - y - - smtpd # note\n",    // comment ending the entry
        "  -o smtpd_tls_wrappermode=yes\n",      // continuation of nothing
        "smtp inet n - y ? - smtpd\n",           // wakeup without a number
        "smtp inet n - y 99999999999 - smtpd\n", // wakeup beyond int
    };
    for (const char* text : refused) {
        MasterCfContent content;
        EXPECT_FALSE(parses(text, content)) << text;
    }
}

using MasterCfFile = SandboxTest;

const std::string path = "/etc/postfix/master.cf";

std::string loadError(const std::string& file) {
    MasterCfContent content;
    return failure<PostfixConfigurationError>([&] { loadMasterCf(file, content); });
}

// Configuration management may keep master.cf as a link: replace its target.
TEST_F(MasterCfFile, StoreKeepsBytesAndModeOfALinkedFilesTarget) {
    const std::string managed = "/etc/postfix/managed/master.cf";
    boost::filesystem::create_directory("/etc/postfix/managed");
    writeFile(managed, testData("master.cf.realworld"));
    boost::filesystem::remove(path);
    boost::filesystem::create_symlink("managed/master.cf", path);
    MasterCfContent linked;
    loadMasterCf(path, linked);
    storeMasterCf(path, linked);
    EXPECT_EQ(readFile(managed), testData("master.cf.realworld"));
    linked.removeModule("smtp", ModuleType::INET);
    storeMasterCf(path, linked);
    EXPECT_EQ(boost::filesystem::read_symlink(path).string(), "managed/master.cf");
    EXPECT_EQ(readFile(managed).find("\nsmtp      inet"), std::string::npos);
    EXPECT_NE(readFile(managed).find("\nsubmission inet"), std::string::npos);
    EXPECT_EQ(statOf(managed).st_mode & 07777, 0644u);
}

// A failed store leaving the old file is proven by the full-disk commands in tests/hardening.
TEST_F(MasterCfFile, BadFilesAreRefusedByName) {
    const std::string malformed = "smtp inet n - y - - smtpd\nBAD inet n - y - - smtpd\n";
    writeFile(path, malformed);
    EXPECT_EQ(loadError(path), "unable to parse /etc/postfix/master.cf");
    EXPECT_EQ(readFile(path), malformed);
}

} // namespace
