// Courier-IMAP reads these files itself: every byte the tool does not mean
// to change must survive the rewrite.
#include "mail/CourierSettings.h"
#include "sandbox/Sandbox.h"
#include "sandbox/TestFiles.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace korvo::test;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

const std::string kDir = "/etc/courier-imap/";
const std::string kCalls = "/run/vornctl-sandbox/courier-imap.calls";

class CourierSettingsTest : public SandboxTest {};

TEST_F(CourierSettingsTest, AssignmentsAreReplacedRemovedAndAppendedOtherLinesKept) {
    writeFile(kDir + "imapd", "# 100% of %s and %n stay\n"
                              "RELAYCLIENT=old\n"
                              "POPAUTH =1\n"
                              "RELAYCLIENT=second\n"
                              "SHORTNAMES=1\n"
                              "POPLOCK_TIMEX=5\n"
                              "LAST=1");
    const passwd* popuser = ::getpwnam("popuser");
    ASSERT_NE(popuser, nullptr);
    ASSERT_EQ(::chown((kDir + "imapd").c_str(), popuser->pw_uid, popuser->pw_gid), 0);
    ASSERT_EQ(::chmod((kDir + "imapd").c_str(), 0640), 0);
    writeFile(kDir + "pop3d", "");
    writeFile(kDir + "pop3d-ssl", "POPLOCK_TIME=10\nPOPLOCK_TIME=20\n");

    ASSERT_EQ(set_courier_params(1, 0, 300, 0), 0);
    EXPECT_EQ(readFile(kDir + "imapd"), "# 100% of %s and %n stay\n"
                                        "RELAYCLIENT=\n"
                                        "POPAUTH =1\n"
                                        "POPLOCK_TIMEX=5\n"
                                        "LAST=1\n"
                                        "POPLOCK_TIME=300\n");
    const struct stat st = statOf(kDir + "imapd");
    EXPECT_EQ(st.st_uid, popuser->pw_uid);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_FALSE(::access((kDir + "imapd-ssl").c_str(), F_OK) == 0);
    EXPECT_EQ(readFile(kDir + "pop3d"), "RELAYCLIENT=\nPOPLOCK_TIME=300\n");
    EXPECT_EQ(readFile(kDir + "pop3d-ssl"), "POPLOCK_TIME=300\nRELAYCLIENT=\n");
    EXPECT_EQ(readFile(kCalls), "restart\n");

    // A negative lock time (65535 is -1 as 16 bits) leaves it alone; 0 removes it.
    ASSERT_EQ(set_courier_params(0, 1, 65535, 1), 0);
    EXPECT_EQ(readFile(kDir + "pop3d"), "POPLOCK_TIME=300\nPOPAUTH=1\nSHORTNAMES=1\n");
    ASSERT_EQ(set_courier_params(0, 0, 0, 0), 0);
    EXPECT_EQ(readFile(kDir + "pop3d"), "");
    EXPECT_EQ(readFile(kCalls), "restart\nrestart\nrestart\n");
}

TEST_F(CourierSettingsTest, OnlyTheFirstThirtyOneEntriesApply) {
    writeFile(kDir + "imapd", "V5=old\nV31=old\n");
    std::vector<std::string> names(33);
    std::vector<courier_param_entry> entries;
    for (int i = 0; i < 33; ++i)
        entries.push_back({(names[i] = "V" + std::to_string(i)).c_str(), COURIER_PARAM_SET, "x"});
    entries.push_back({nullptr, 0, nullptr});

    CaptureStdout();
    ASSERT_EQ(set_courier_params_list(entries.data()), 0);
    EXPECT_NE(GetCapturedStdout().find("Too many variables specified, tail is ignored"),
              std::string::npos);
    std::string expected = "V5=x\nV31=old\n";
    for (int i = 0; i < 31; ++i)
        if (i != 5)
            expected += "V" + std::to_string(i) + "=x\n";
    EXPECT_EQ(readFile(kDir + "imapd"), expected);
}

TEST_F(CourierSettingsTest, MissingFilesAreSkippedAndAFailedRewriteStopsBeforeTheRestart) {
    ASSERT_EQ(set_courier_shortnames_params(1), 0);
    EXPECT_EQ(readFile(kCalls), "restart\n");
    EXPECT_TRUE(::access((kDir + "imapd").c_str(), F_OK) != 0);

    // A temporary name taken by a directory that cannot be removed.
    writeFile(kDir + "imapd", "A=1\n");
    writeFile(kDir + "pop3d", "A=1\n");
    ASSERT_EQ(::mkdir((kDir + "imapd.tmp").c_str(), 0755), 0);
    writeFile(kDir + "imapd.tmp/keep", "");
    CaptureStdout();
    EXPECT_EQ(set_courier_shortnames_params(1), -1);
    EXPECT_NE(GetCapturedStdout().find("Unable to create temporary file for " + kDir + "imapd"),
              std::string::npos);
    EXPECT_EQ(readFile(kDir + "imapd"), "A=1\n");
    EXPECT_EQ(readFile(kDir + "pop3d"), "A=1\n");
    EXPECT_EQ(readFile(kCalls), "restart\n");
}

} // namespace
