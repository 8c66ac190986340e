// Fixtures for tests that touch the system paths vornctl writes.
//
// Every test program runs under tests/sandbox/run (see that script): private
// mount and network namespaces, tmpfs over the tool's directories, private
// copies of /etc/postfix and the account files with popuser in them.
// SandboxTest refuses to run a test anywhere else, so a test started by hand
// outside the sandbox fails instead of writing the host's /etc or /var, and
// puts the sandbox back into its initial state before each test.
#ifndef KORVO_TESTS_SANDBOX_H
#define KORVO_TESTS_SANDBOX_H

#include <gtest/gtest.h>
#include <string>

namespace korvo::test {

// True inside a sandbox made by tests/sandbox/run.
bool inSandbox();

// Empties the tool's directories and restores /etc/postfix.
void resetSandbox();

// Path of a script or file beside the run script (tests/sandbox/NAME).
std::string sandboxFile(const std::string& name);

// Runs a shell command line and returns its exit status; throws on failure
// to start it at all.
int shell(const std::string& command);

class SandboxTest : public ::testing::Test {
protected:
    void SetUp() override;
};

} // namespace korvo::test

#endif
