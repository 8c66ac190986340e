// The SPF checker reads each file whole: no newline may be added, and a
// failure must leave the later settings alone.
#include "mail/Spf.h"
#include "sandbox/Sandbox.h"
#include "sandbox/TestFiles.h"

#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

using namespace korvo::test;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

class SpfTest : public SandboxTest {};

TEST_F(SpfTest, OnlyGivenValuesAreWrittenAndTheFirstFailureStops) {
    ASSERT_EQ(update_spf(nullptr, "include:%{d} a mx", nullptr, nullptr), 0);
    EXPECT_EQ(readFile("/etc/orq-spf/spfrules"), "include:%{d} a mx");
    EXPECT_NE(::access("/etc/orq-spf/spfbehavior", F_OK), 0);
    ASSERT_EQ(::chmod("/etc/orq-spf/spfrules", 0600), 0);

    // spfguess cannot be replaced while a directory with content holds its name.
    ASSERT_EQ(::mkdir("/etc/orq-spf/spfguess", 0755), 0);
    writeFile("/etc/orq-spf/spfguess/keep", "");
    CaptureStdout();
    EXPECT_EQ(update_spf("3", "", "v=spf1 a", "exp"), -1);
    const std::string out = GetCapturedStdout();
    EXPECT_NE(out.find("Unable to close file /etc/orq-spf/spfguess"), std::string::npos);
    EXPECT_NE(out.find("Unable to update 'spf_guess' parameter"), std::string::npos);
    EXPECT_EQ(readFile("/etc/orq-spf/spfbehavior"), "3");
    EXPECT_EQ(readFile("/etc/orq-spf/spfrules"), "");
    EXPECT_EQ(statOf("/etc/orq-spf/spfrules").st_mode & 07777, 0600u);
    EXPECT_NE(::access("/etc/orq-spf/spfexp", F_OK), 0);
}

} // namespace
