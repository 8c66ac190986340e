// Services are driven through their init scripts; a failing, killed or
// missing script is covered through the service commands in tests/hardening.
#include "utils/ServiceScripts.h"
#include "sandbox/CapturedOutput.h"
#include "sandbox/Sandbox.h"
#include "sandbox/TestFiles.h"
#include "utils/OrqConf.h"

using namespace korvo::test;

namespace {

const char* const kCalls = "/run/vornctl-sandbox/stand-in.calls";

using ServiceScriptsTest = SandboxTest;

TEST_F(ServiceScriptsTest, ScriptsRunDetachedUnknownServicesRunNothingAndNoRestartSkipsAll) {
    // The script records its arguments, directory and standard input.
    writeScript("/etc/init.d/vornctl-test.sh",
                "echo \"$0|$1|$(pwd)|$(readlink /proc/$$/fd/0)\" >> " + std::string(kCalls));
    EXPECT_EQ(restart_daemon("vornctl-test", "restart"), 0);
    EXPECT_EQ(readFile(kCalls), "/etc/init.d/vornctl-test.sh|restart|/etc/init.d|/dev/null\n");

    CapturedStdout capturedStdout;
    for (const char* unknown : {"vornctl-absent", "", "apache2"})
        EXPECT_EQ(restart_daemon(unknown, "start"), -1) << unknown;
    EXPECT_EXIT(rc_script("/etc/init.d/vornctl-absent", "start"), testing::ExitedWithCode(1),
                "No such file '/etc/init.d/vornctl-absent'");

    writeFile(ORQ_CONF_PATH, "NO_RESTART_DAEMON 1\n");
    EXPECT_EQ(restart_daemon("vornctl-test", "stop"), 0);
    EXPECT_EQ(readFile(kCalls), "/etc/init.d/vornctl-test.sh|restart|/etc/init.d|/dev/null\n");
}

} // namespace
