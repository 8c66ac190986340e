// Services are driven through their init scripts (the Courier words are
// covered through the commands in tests/front).
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

const char* const kCalls = "/run/vornctl-sandbox/stand-in.calls";

// An init script that records its arguments, directory and standard input.
void installScript(const std::string& path, const std::string& body) {
    std::ofstream(path) << "#!/bin/sh\necho \"$0|$1|$(pwd)|$(readlink /proc/$$/fd/0)\" >> "
                        << kCalls << "\n"
                        << body << "\n";
    ::chmod(path.c_str(), 0755);
}

using ServiceScriptsTest = korvo::test::SandboxTest;

TEST_F(ServiceScriptsTest, ScriptsRunDetachedAndFailuresAndUnknownServicesAreReported) {
    installScript("/etc/init.d/vornctl-test.sh", "exit 0");
    installScript("/etc/init.d/vornctl-fail", "exit 2");
    installScript("/etc/init.d/vornctl-killed", "kill -9 $$");
    CaptureStdout();
    EXPECT_EQ(restart_daemon("vornctl-test", "restart"), 0);
    EXPECT_EQ(restart_daemon("vornctl-fail", "start"), -1);
    EXPECT_EQ(restart_daemon("vornctl-fail", "status"), -1);
    EXPECT_EQ(rc_script_gen("/etc/init.d/vornctl-fail", "quiet", "start", 0), -1);
    EXPECT_EQ(restart_daemon("vornctl-killed", "stop"), -1);
    EXPECT_EQ(GetCapturedStdout(),
              "Service /etc/init.d/vornctl-fail failed to start\n"
              "Unable to stop service /etc/init.d/vornctl-killed: daemon killed by signal 9\n");
    const std::string calls = readFile(kCalls);
    EXPECT_EQ(calls.rfind("/etc/init.d/vornctl-test.sh|restart|/etc/init.d|/dev/null\n", 0), 0u);

    CaptureStdout();
    EXPECT_EQ(restart_daemon("vornctl-absent", "start"), -1);
    EXPECT_EQ(restart_daemon("", "start"), -1);
    EXPECT_EQ(restart_daemon("apache2", "restart"), -1);
    const std::string printed = GetCapturedStdout();
    EXPECT_NE(printed.find("'vornctl-absent'"), std::string::npos);
    EXPECT_NE(printed.find("Unknown service\n"), std::string::npos);
    EXPECT_NE(printed.find("service apache2"), std::string::npos);
    EXPECT_EQ(readFile(kCalls), calls);
    EXPECT_EXIT(rc_script("/etc/init.d/vornctl-absent", "start"), testing::ExitedWithCode(1),
                "No such file '/etc/init.d/vornctl-absent'");

    // NO_RESTART_DAEMON makes every request a success that skips the script.
    std::ofstream(ORQ_CONF_PATH) << "NO_RESTART_DAEMON 1\n";
    EXPECT_EQ(restart_daemon("vornctl-fail", "restart"), 0);
    EXPECT_EQ(readFile(kCalls), calls);
}

} // namespace
