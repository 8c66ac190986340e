// maildirsize: quota net of attachments, usage from size tags, backdating.
#include "StorageFixture.h"

#include "mail/storage/MailboxQuota.h"
#include "mail/storage/MailboxSize.h"
#include "mail/storage/MaildirPPManager.h"
#include "mail/storage/MaildirSize.h"
#include "mail/storage/MaildirSizeSeams.h"
#include "sandbox/CapturedOutput.h"
#include "utils/Exceptions.h"
#include "utils/FileUtils.h"

#include <boost/filesystem/operations.hpp>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <vector>

namespace {

const std::string maildir = "/var/qmail/mailnames/example.com/info/Maildir";
bool changeDuringCount = false;

} // namespace

// These replace the library's weak definitions.
namespace korvo::mail::seam {

void maildirsizeAfterCount(int) {
    if (changeDuringCount)
        korvo::test::writeFile(maildir + "/.Work/new/1.host,S=10", "");
}

// Names ending in ".gone" vanish before their stat; "9.gone" takes its folder along.
void maildirUsageBeforeStat(int dirFd, const char* name) {
    if (std::strcmp(name, "9.gone") == 0)
        korvo::test::shell("rm -r " + maildir + "/.Gone");
    else if (std::strstr(name, ".gone") != nullptr)
        ::unlinkat(dirFd, name, 0);
}

} // namespace korvo::mail::seam

namespace {

using korvo::mail::MaildirPPManager;
using namespace korvo::test;

std::string maildirsizeText(long long quota, long long bytes, unsigned long long count) {
    char text[100];
    std::snprintf(text, sizeof text, "%lldS,0C\n%12lld%12llu\n", quota, bytes, count);
    return text;
}

void setTimes(const std::string& path, std::time_t when) {
    const struct timespec times[2] = {{when, 0}, {when, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << path;
}

class MaildirSizeTest : public StorageTest {
protected:
    void SetUp() override {
        StorageTest::SetUp();
        home = makeHome("example.com", "info");
        changeDuringCount = false;
    }

    long long storeSize() { return get_dir_size((home + "/@attachments").c_str(), 0); }

    // The store, its directory entry included, holds exactly size bytes.
    void fillAttachments(long long size) {
        writeFile(home + "/@attachments/file", "");
        ASSERT_EQ(::truncate((home + "/@attachments/file").c_str(), size - storeSize()), 0);
    }

    void setQuota(long long quota) {
        MaildirPPManager::getInstance().setMailboxQuota("example.com", "info", quota);
    }

    std::string maildirsize() { return readFile(maildir + "/maildirsize"); }

    std::string home;
};

TEST_F(MaildirSizeTest, QuotaLeavesRoomForTheAttachments) {
    const auto cwd = boost::filesystem::current_path();
    writeFile(maildir + "/cur/1.host,S=300:2,S", "x");
    setQuota(-1);
    EXPECT_EQ(maildirsize(), maildirsizeText(0, 300, 1));
    const struct stat st = statOf(maildir + "/maildirsize");
    EXPECT_TRUE(st.st_uid == popUid && st.st_gid == popGid && (st.st_mode & 07777) == 0644);
    setQuota(0);
    EXPECT_EQ(maildirsize(), maildirsizeText(1, 300, 1));
    // The quota less the store, and never below 1 byte.
    for (const auto& [store, quota] : {std::pair{400, 600}, {1000, 1}, {1500, 1}}) {
        fillAttachments(store);
        setQuota(1000);
        EXPECT_EQ(maildirsize(), maildirsizeText(quota, 300, 1)) << store;
    }
    EXPECT_EQ(store_mbox_quota("example.com", "info", 1000), 1);
    // Both enter the home to write; neither may leave the caller there.
    EXPECT_EQ(boost::filesystem::current_path(), cwd);
    EXPECT_THROW(MaildirPPManager::getInstance().setMailboxQuota("example.com", "nobody", 5),
                 korvo::mail::FSError);
    EXPECT_EQ(store_mbox_quota("example.com", "nobody", 5), 0);
}

TEST_F(MaildirSizeTest, UsageCountsTagsAndSizesButNotTrashNorVanishedMessages) {
    ASSERT_EQ(shell("ln -s /etc/orq/outside/victim " + maildir + "/cur/5.link && cd " + maildir +
                    " && mkdir -p .Work/cur .Trash/cur .Gone/new .Gone/cur && rmdir new"),
              0);
    // 8 and 9 are removed between listing and stat: a message, and a folder with all it holds.
    for (const auto& [name, text] : {std::pair{"/cur/1.host,S=2048:2,S", "short"},
                                     {"/cur/2.host,S=12x:2,", "seven b"},
                                     {"/cur/3.host,S=50,S=60", ""},
                                     {"/cur/4.host", "eleven byte"},
                                     {"/.NotAFolder", ""},
                                     {"/.Work/cur/6.host,S=100", ""},
                                     {"/.Trash/cur/7.host,S=5000", ""},
                                     {"/cur/8.gone", "gone"},
                                     {"/.Gone/new/9.gone", "gone"},
                                     {"/.Gone/cur/10.host,S=999", ""}})
        writeFile(maildir + name, text);

    const long long bytes = 2048 + 7 + 60 + 11 + std::strlen("/etc/orq/outside/victim") + 100;
    long long counted = -1;
    unsigned long long count = 0;
    ASSERT_EQ(get_maildirpp_usage(maildir.c_str(), &counted, &count), 0);
    EXPECT_EQ(counted, bytes);
    EXPECT_EQ(count, 6u);
    setQuota(1 << 20);
    EXPECT_EQ(maildirsize(), maildirsizeText((1 << 20) - storeSize(), bytes, 6));
    EXPECT_EQ(get_mbox_size("info", "example.com", 0), bytes + storeSize());
}

TEST_F(MaildirSizeTest, SizeCommandTrustsOnlyAWellFormedMaildirsize) {
    writeFile(maildir + "/cur/1.host,S=700", "");
    const auto usage = [](const std::string& text) {
        writeFile(maildir + "/maildirsize", text);
        long long bytes = -1;
        unsigned long long count = 0;
        EXPECT_EQ(get_maildirpp_usage(maildir.c_str(), &bytes, &count), 0);
        return std::to_string(bytes) + "/" + std::to_string(count);
    };
    EXPECT_EQ(usage("1000S,0C\n         100           2\n  -40 1\n"), "60/3");
    EXPECT_EQ(usage("1000S,0C\n"), "0/0");
    for (const std::string& malformed : std::vector<std::string>{
             "1000S,0C\n  100   2\n  -50  -1\n", "1000S,0C\n  100   0\n", "1000S,0C\n100\n",
             "1000S,0C\n  100   2 x\n", "1000S,0C\n\n", "1000S,0C\nabc 1\n",
             "1000S,0C\n99999999999999999999 1\n", "1000S,0C\n" + std::string(5200, ' ') + "1 1\n"})
        EXPECT_EQ(usage(malformed), "700/1") << malformed;
    EXPECT_EXIT(get_mbox_size("info", "bücher.example", 0), ::testing::ExitedWithCode(1),
                "Unable to calculate Maildir\\+\\+ size: No such file or directory");
}

TEST_F(MaildirSizeTest, ChangeDuringTheCountBackdatesTheFile) {
    const std::time_t then = std::time(nullptr) - 3600;
    ASSERT_EQ(shell("mkdir -p " + maildir + "/.Work/new " + maildir + "/.Work/cur"), 0);
    for (const char* dir : {"/cur", "/new", "/.Spam/cur", "/.Spam/new", "/.Work/cur", "/.Work/new"})
        setTimes(maildir + dir, then);
    setQuota(5000);
    EXPECT_GE(statOf(maildir + "/maildirsize").st_mtime, then + 3000);

    changeDuringCount = true;
    setQuota(5000);
    EXPECT_EQ(statOf(maildir + "/maildirsize").st_mtime, then - 960);
    EXPECT_EQ(maildirsize(), maildirsizeText(5000 - storeSize(), 0, 0));

    // A Maildir whose own "cur" cannot be read cannot be checked.
    changeDuringCount = false;
    setTimes(maildir + "/.Work/new", then);
    ASSERT_EQ(::rename((maildir + "/cur").c_str(), (maildir + "/old").c_str()), 0);
    CapturedStdout capturedStdout;
    setQuota(5000);
    EXPECT_EQ(statOf(maildir + "/maildirsize").st_mtime, then - 960);
    EXPECT_EQ(maildirsize(), maildirsizeText(5000 - storeSize(), 10, 1));
}

} // namespace
