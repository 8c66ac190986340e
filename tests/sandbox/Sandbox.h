// Fixture for tests that touch the system paths vornctl writes: outside
// tests/sandbox/run its set-up throws, so that no set-up built on it goes on
// to write the host's /etc or /var; inside, it resets the sandbox before
// each test.
#ifndef KORVO_TESTS_SANDBOX_H
#define KORVO_TESTS_SANDBOX_H

#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <string>

namespace korvo::test {

// The what() of the E that f throws; "" when it throws none.
template <class E, class F> std::string failure(F f) {
    try {
        f();
    } catch (const E& e) {
        return e.what();
    }
    return "";
}

// True inside a sandbox made by tests/sandbox/run.
bool inSandbox();

// Empties the tool's directories and restores /etc/postfix.
void resetSandbox();

// Path of a script or file beside the run script (tests/sandbox/NAME).
std::string sandboxFile(const std::string& name);

// A shell command line's exit status; throws when it cannot start.
int shell(const std::string& command);

// Polls done every interval until it holds (true) or seconds have passed (false).
bool waitUntil(const std::function<bool()>& done, int seconds,
               std::chrono::microseconds interval = std::chrono::milliseconds(100));

class SandboxTest : public ::testing::Test {
protected:
    void SetUp() override;
};

} // namespace korvo::test

#endif
