#include "postfix/config/MasterCfIO.h"
#include "postfix/config/MasterCfTestData.h"
#include "sandbox/Sandbox.h"
#include "utils/Exceptions.h"

#include <boost/filesystem.hpp>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>

using namespace korvo::mail::postfix;
using korvo::test::readFile;
using korvo::test::testData;
using korvo::test::writeFile;

namespace {

bool parses(const std::string& text, MasterCfContent& content) {
    return parseMasterCf(text.data(), text.data() + text.size(), content);
}

std::string stored(const MasterCfContent& content) {
    std::ostringstream out;
    writeMasterCf(out, content);
    return out.str();
}

} // namespace

TEST(MasterCfParse, FilesStoreBackUnchangedAndEntriesKeepContinuationsAndComments) {
    for (const char* name : {"master.cf.debian12", "master.cf.realworld"}) {
        const std::string text = testData(name);
        MasterCfContent content;
        ASSERT_TRUE(parses(text, content)) << name;
        EXPECT_EQ(stored(content), text) << name;
        const ModuleInfo postlog = content.getModule("postlog", ModuleType::UNIX_DGRAM).first;
        EXPECT_EQ(postlog.format(), "postlog unix-dgram n - n - 1 postlogd");
        const ModuleInfo tlsmgr = content.getModule("tlsmgr", ModuleType::UNIX).first;
        EXPECT_EQ(tlsmgr.wakeup, 1000);
        EXPECT_TRUE(tlsmgr.wakeupConditional);
        EXPECT_TRUE(content.hasModule("smtp", ModuleType::UNIX));
    }
    MasterCfContent content;
    ASSERT_TRUE(parses(testData("master.cf.realworld"), content));
    const auto [submission, text] = content.getModule("submission", ModuleType::INET);
    EXPECT_EQ(text, korvo::test::realWorldSubmission);
    EXPECT_EQ(submission.command.size(), 7u);
    EXPECT_EQ(content.getModule("smtpd", ModuleType::PASS).first.command.back(),
              "receive_override_options=no_address_mappings");
    // Each entry has only its own command words.
    EXPECT_EQ(content.getModule("relay", ModuleType::UNIX).first.format(),
              "relay unix - - y - - smtp -o syslog_name=postfix/$service_name");
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

TEST(MasterCfParse, KeysAreNameAndTypeAndALaterDuplicateReplacesInPlace) {
    MasterCfContent content;
    ASSERT_TRUE(parses("smtp inet n - y - - smtpd\n"
                       "# between\n"
                       "smtp unix - - y - - smtp\n"
                       "smtp inet n - y - 100 smtpd -o x=1\n",
                       content));
    EXPECT_EQ(stored(content), "smtp inet n - y - 100 smtpd -o x=1\n"
                               "# between\n"
                               "smtp unix - - y - - smtp\n");
    EXPECT_EQ(content.getModule("smtp", ModuleType::INET).first.maxProcesses, 100);
    EXPECT_TRUE(content.removeModule("smtp", ModuleType::UNIX));
    EXPECT_FALSE(content.removeModule("smtp", ModuleType::UNIX));
    EXPECT_THROW(content.getModule("smtp", ModuleType::UNIX), std::out_of_range);
    EXPECT_EQ(stored(content), "smtp inet n - y - 100 smtpd -o x=1\n# between\n");
}

using MasterCfFile = korvo::test::SandboxTest;

const std::string path = "/etc/postfix/master.cf";

void loadAndStore() {
    MasterCfContent content;
    loadMasterCf(path, content);
    storeMasterCf(path, content);
}

std::string loadError(const std::string& file) {
    MasterCfContent content;
    try {
        loadMasterCf(file, content);
    } catch (const korvo::mail::postfix::PostfixConfigurationError& e) {
        return e.what();
    }
    return "loaded " + file;
}

TEST_F(MasterCfFile, LoadStoreCyclesLeaveTheFileIdentical) {
    const std::string text = testData("master.cf.realworld");
    writeFile(path, text);
    loadAndStore();
    loadAndStore();
    ASSERT_EQ(readFile(path), text);
    EXPECT_EQ(korvo::test::statOf(path).st_mode & 07777, 0644u);

    writeFile(path, "smtp inet n - y - - smtpd");
    loadAndStore();
    EXPECT_EQ(readFile(path), "smtp inet n - y - - smtpd\n");
}

TEST_F(MasterCfFile, UnreadableOrMalformedFilesAreRefusedByName) {
    const std::string malformed = "smtp inet n - y - - smtpd\nBAD inet n - y - - smtpd\n";
    writeFile(path, malformed);
    EXPECT_EQ(loadError(path), "unable to parse /etc/postfix/master.cf");
    EXPECT_EQ(readFile(path), malformed);

    writeFile(path, "");
    for (const std::string& unopenable : {path, std::string("/etc/postfix"), path + ".missing"})
        EXPECT_EQ(loadError(unopenable), "unable to open " + unopenable);
}

TEST_F(MasterCfFile, FailedStoreLeavesNoTemporaryBehind) {
    const std::string text = testData("master.cf.debian12");
    writeFile(path, text);
    MasterCfContent content;
    loadMasterCf(path, content);
    content.removeModule("smtp", ModuleType::INET);
    // A rename that fails (onto a directory) removes its temporary file.
    const std::string directory = "/etc/postfix/master.d";
    boost::filesystem::create_directory(directory);
    const auto entries = [] {
        return std::distance(boost::filesystem::directory_iterator("/etc/postfix"),
                             boost::filesystem::directory_iterator());
    };
    const auto before = entries();
    EXPECT_THROW(storeMasterCf(directory, content), korvo::SystemError);
    EXPECT_EQ(entries(), before);
    EXPECT_EQ(readFile(path), text);
}

// Configuration management may keep master.cf as a link: replace its target.
TEST_F(MasterCfFile, LinkedFileIsReplacedAtItsTarget) {
    const std::string managed = "/etc/postfix/managed/master.cf";
    boost::filesystem::create_directory("/etc/postfix/managed");
    writeFile(managed, testData("master.cf.debian12"));
    boost::filesystem::remove(path);
    boost::filesystem::create_symlink("managed/master.cf", path);
    MasterCfContent content;
    loadMasterCf(path, content);
    content.removeModule("smtp", ModuleType::INET);
    storeMasterCf(path, content);
    EXPECT_TRUE(S_ISLNK(korvo::test::statOf(path).st_mode));
    EXPECT_EQ(boost::filesystem::read_symlink(path).string(), "managed/master.cf");
    EXPECT_FALSE(readFile(managed).empty());
    EXPECT_EQ(readFile(managed).find("\nsmtp      inet"), std::string::npos);
    EXPECT_EQ(korvo::test::statOf(managed).st_mode & 07777, 0644u);
    EXPECT_FALSE(boost::filesystem::exists(managed + ".tmp"));
}
