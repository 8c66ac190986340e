// Shared by the setup and delivery tests: the built programs and a private
// /usr/bin (a throw-away overlay in the sandbox's mount namespace), since the
// setup program links /usr/bin/deliverquota, which the sandbox does not cover.
#ifndef KORVO_TESTS_SETUP_SETUPFIXTURE_H
#define KORVO_TESTS_SETUP_SETUPFIXTURE_H

#include "sandbox/CommandRunner.h"
#include "sandbox/Sandbox.h"
#include "sandbox/TestFiles.h"

#include <fstream>
#include <gtest/gtest.h>
#include <pwd.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace korvo::test {

inline const std::string setupBinary = VORNCTL_SETUP_BINARY;
inline const std::string agentBinary = VORNCTL_DELIVER_BINARY;
inline const std::string mailRoot = "/var/qmail/mailnames";

// True when path is a mount point of an overlay file system.
inline bool overlayMountedAt(const std::string& path) {
    std::ifstream mounts("/proc/self/mountinfo");
    for (std::string line; std::getline(mounts, line);)
        if (line.find(" " + path + " ") != std::string::npos &&
            line.find(" - overlay ") != std::string::npos)
            return true;
    return false;
}

// Mounts the private /usr/bin once and removes the deliverquota link a
// previous test made in it.
inline void privateUsrBin() {
    if (!overlayMountedAt("/usr/bin")) {
        ASSERT_EQ(0, shell("mkdir -p /run/vornctl-usr-bin && "
                           "mount -t tmpfs vornctl-usr-bin /run/vornctl-usr-bin && "
                           "mkdir /run/vornctl-usr-bin/upper /run/vornctl-usr-bin/work && "
                           "mount -t overlay vornctl-usr-bin -o lowerdir=/usr/bin,"
                           "upperdir=/run/vornctl-usr-bin/upper,workdir=/run/vornctl-usr-bin/work "
                           "/usr/bin"));
    }
    ASSERT_TRUE(overlayMountedAt("/usr/bin"));
    ::unlink("/usr/bin/deliverquota");
}

inline CommandResult runSetup(const std::vector<std::string>& extra = {}) {
    std::vector<std::string> argv = {setupBinary, "--delivery-agent=" + agentBinary};
    argv.insert(argv.end(), extra.begin(), extra.end());
    return runCommand(argv);
}

// The output of a shell command line.
inline std::string shellOutput(const std::string& command) {
    return runCommand({"/bin/sh", "-c", command}).out;
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
