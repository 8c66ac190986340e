// Services are driven through their init scripts; the sandbox's stand-in
// Courier-IMAP script records every call it gets.
#include "utils/ServiceScripts.h"
#include "sandbox/Sandbox.h"
#include "sandbox/TestFiles.h"
#include "utils/OrqConf.h"

#include <fstream>
#include <sys/stat.h>

using korvo::test::readFile;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

const char* const kCourierCalls = "/run/vornctl-sandbox/courier-imap.calls";

class ServiceScriptsTest : public korvo::test::SandboxTest {
protected:
    // An init script that records its arguments, directory and standard input.
    static void installScript(const std::string& path, const std::string& body) {
        std::ofstream(path) << "#!/bin/sh\n"
                               "echo \"$0|$1|$(pwd)|$(readlink /proc/$$/fd/0)\" >> /run/"
                               "vornctl-sandbox/stand-in.calls\n"
                            << body << "\n";
        ::chmod(path.c_str(), 0755);
    }
};

TEST_F(ServiceScriptsTest, CourierIsDrivenThroughItsInitScriptUnlessNoRestartIsSet) {
    EXPECT_EQ(restart_daemon("courier-imap", "start"), 0);
    EXPECT_EQ(restart_daemon("courier-imap", "status"), 0);
    EXPECT_EQ(restart_daemon("courier-imap", "stop"), 0);
    CaptureStdout();
    EXPECT_EQ(print_status(restart_daemon("courier-imap", "status")), -1);
    EXPECT_EQ(print_status(0), 0);
    EXPECT_EQ(print_status(3), 0);
    EXPECT_EQ(GetCapturedStdout(), "internal error\nis running\nis stopped\n");
    EXPECT_EQ(readFile(kCourierCalls), "start\nstatus\nstop\nstatus\n");
    // NO_RESTART_DAEMON makes a restart a success that skips the script.
    std::ofstream(ORQ_CONF_PATH) << "NO_RESTART_DAEMON 1\n";
    EXPECT_EQ(restart_daemon("courier-imap", "restart"), 0);
    EXPECT_EQ(readFile(kCourierCalls), "start\nstatus\nstop\nstatus\n");
}

TEST_F(ServiceScriptsTest, ScriptFoundOnlyWithShEndingRunsDetachedInItsDirectory) {
    installScript("/etc/init.d/vornctl-test.sh", "exit 0");
    EXPECT_EQ(restart_daemon("vornctl-test", "restart"), 0);
    EXPECT_EQ(readFile("/run/vornctl-sandbox/stand-in.calls"),
              "/etc/init.d/vornctl-test.sh|restart|/etc/init.d|/dev/null\n");
}

TEST_F(ServiceScriptsTest, FailuresAreReportedUnlessStatusIsAsked) {
    installScript("/etc/init.d/vornctl-fail", "exit 2");
    CaptureStdout();
    EXPECT_EQ(restart_daemon("vornctl-fail", "start"), -1);
    EXPECT_EQ(restart_daemon("vornctl-fail", "status"), -1);
    EXPECT_EQ(rc_script_gen("/etc/init.d/vornctl-fail", "quiet", "start", 0), -1);
    EXPECT_EQ(GetCapturedStdout(), "Service /etc/init.d/vornctl-fail failed to start\n");
    installScript("/etc/init.d/vornctl-killed", "kill -9 $$");
    CaptureStdout();
    EXPECT_EQ(restart_daemon("vornctl-killed", "stop"), -1);
    EXPECT_EQ(GetCapturedStdout(),
              "Unable to stop service /etc/init.d/vornctl-killed: daemon killed by signal 9\n");
}

TEST_F(ServiceScriptsTest, UnknownSpecialAndMissingServicesAreRefused) {
    CaptureStdout();
    EXPECT_EQ(restart_daemon("vornctl-absent", "start"), -1);
    EXPECT_EQ(restart_daemon("", "start"), -1);
    EXPECT_EQ(restart_daemon("apache2", "restart"), -1);
    const std::string printed = GetCapturedStdout();
    EXPECT_NE(printed.find("Unable to find start/stop script for 'vornctl-absent'\n"),
              std::string::npos);
    EXPECT_NE(printed.find("Unknown service\n"), std::string::npos);
    EXPECT_NE(printed.find("service apache2"), std::string::npos);
    EXPECT_EQ(readFile("/run/vornctl-sandbox/stand-in.calls"), "");
    EXPECT_EXIT(rc_script("/etc/init.d/vornctl-absent", "start"), testing::ExitedWithCode(1),
                "No such file '/etc/init.d/vornctl-absent'");
}

} // namespace
