#include "sandbox/Sandbox.h"

#include <cstdlib>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace korvo::test {

bool inSandbox() {
    return ::access("/run/vornctl-sandbox/active", F_OK) == 0;
}

std::string sandboxFile(const std::string& name) {
    return std::string(VORNCTL_SANDBOX_DIR) + "/" + name;
}

int shell(const std::string& command) {
    const int status = std::system(command.c_str());
    if (status == -1)
        throw std::runtime_error("cannot run: " + command);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

bool waitUntil(const std::function<bool()>& done, int seconds, std::chrono::microseconds interval) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!done())
        if (std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(interval);
        else
            return false;
    return true;
}

void resetSandbox() {
    if (shell(sandboxFile("reset")) != 0)
        throw std::runtime_error("cannot reset the sandbox");
}

void SandboxTest::SetUp() {
    if (!inSandbox())
        throw std::runtime_error("not inside tests/sandbox/run: refusing to touch system paths");
    resetSandbox();
}

} // namespace korvo::test
