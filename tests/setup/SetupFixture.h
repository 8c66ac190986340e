// Shared by the setup, delivery and mail flow tests: the built programs and a
// private /usr/bin (a throw-away overlay in the sandbox's mount namespace),
// since the setup program links /usr/bin/deliverquota, which the sandbox does
// not cover.
#ifndef KORVO_TESTS_SETUP_SETUPFIXTURE_H
#define KORVO_TESTS_SETUP_SETUPFIXTURE_H

#include "sandbox/CommandRunner.h"
#include "sandbox/Sandbox.h"
#include "sandbox/TestFiles.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace korvo::test {

inline const std::string setupBinary = VORNCTL_SETUP_BINARY;
inline const std::string agentBinary = VORNCTL_DELIVER_BINARY;
inline const std::string mailRoot = "/var/qmail/mailnames";

// Mounts the private /usr/bin once and removes the deliverquota link a
// previous test made in it.
inline void privateUsrBin() {
    ASSERT_EQ(0, shell("grep -q ' /usr/bin .* - overlay ' /proc/self/mountinfo || "
                       "(d=/run/vornctl-usr-bin && mkdir -p $d && mount -t tmpfs usr-bin $d && "
                       "mkdir $d/upper $d/work && mount -t overlay usr-bin -o lowerdir=/usr/bin,"
                       "upperdir=$d/upper,workdir=$d/work /usr/bin)"));
    ASSERT_EQ(0, shell("grep -q ' /usr/bin .* - overlay ' /proc/self/mountinfo"));
    ::unlink("/usr/bin/deliverquota");
}

inline CommandResult runSetup(const std::vector<std::string>& extra = {}) {
    std::vector<std::string> argv = {setupBinary, "--delivery-agent=" + agentBinary};
    argv.insert(argv.end(), extra.begin(), extra.end());
    return runCommand(argv);
}

inline std::string shellOutput(const std::string& command) {
    return runCommand({"/bin/sh", "-c", command}).out;
}

// The names in a directory; none when it cannot be read.
inline std::vector<std::string> entries(const std::string& directory) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(directory, error))
        names.push_back(entry.path().filename());
    return names;
}

// A fresh sandbox with a private /usr/bin and no table directory, so that
// the setup program makes everything itself.
class SetupTest : public SandboxTest {
protected:
    void SetUp() override {
        SandboxTest::SetUp();
        privateUsrBin();
        ::rmdir("/var/spool/postfix/korvo");
    }
};

} // namespace korvo::test

#endif
