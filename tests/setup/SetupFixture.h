// Private overlays of /usr/bin (setup links deliverquota there) and
// /usr/libexec (the programs popuser runs, out of a build tree it may not
// enter), and the setup program run with them.
#ifndef KORVO_TESTS_SETUP_SETUPFIXTURE_H
#define KORVO_TESTS_SETUP_SETUPFIXTURE_H

#include "sandbox/CommandRunner.h"
#include "sandbox/Sandbox.h"
#include "sandbox/TestFiles.h"

#include <gtest/gtest.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace korvo::test {

inline const std::string setupBinary = VORNCTL_SETUP_BINARY;
inline const std::string agentBinary = VORNCTL_DELIVER_BINARY;
inline const std::string mailRoot = "/var/qmail/mailnames";

inline const std::string programsDir = "/usr/libexec/vornctl";
inline const std::string installedAgent = programsDir + "/vornctl-deliver";
inline const std::string installedFilter = programsDir + "/vornctl-filter";
inline const std::string installedAutoresponder = programsDir + "/vornctl-autoresponder";
inline const std::string installedRemote = programsDir + "/vornctl-remote";

// Mounts a throw-away overlay over dir once.
inline void privateLayer(const std::string& dir, const std::string& name) {
    const std::string layer = "/run/vornctl-" + name;
    ASSERT_EQ(0, shell("grep -q ' " + dir + " .* - overlay ' /proc/self/mountinfo || "
                       "(mkdir -p " + layer + " && mount -t tmpfs " + name + " " + layer +
                       " && mkdir " + layer + "/upper " + layer + "/work && mount -t overlay " +
                       name + " -o lowerdir=" + dir + ",upperdir=" + layer + "/upper,workdir=" +
                       layer + "/work " + dir + ")"));
    ASSERT_EQ(0, shell("grep -q ' " + dir + " .* - overlay ' /proc/self/mountinfo"));
}

// Mounts the private /usr/bin and /usr/libexec once, removes the
// deliverquota link a previous test made, and installs the built programs
// Postfix runs as popuser (root's, mode 0755).
inline void privateUsrBin() {
    privateLayer("/usr/bin", "usr-bin");
    privateLayer("/usr/libexec", "usr-libexec");
    ::unlink("/usr/bin/deliverquota");
    ASSERT_EQ(0, shell("install -d -m 0755 " + programsDir + " && install -m 0755 " +
                       agentBinary + " " + VORNCTL_FILTER_BINARY + " " +
                       VORNCTL_AUTORESPONDER_BINARY + " " + VORNCTL_REMOTE_BINARY + " " +
                       programsDir));
}

// The setup program with the installed programs, unless extra names others.
inline CommandResult runSetup(const std::vector<std::string>& extra = {},
                              std::vector<std::string> argv = {}) {
    argv.push_back(setupBinary);
    for (const auto& [option, path] : {std::pair{"--delivery-agent=", installedAgent},
                                       {"--filter=", installedFilter},
                                       {"--autoresponder=", installedAutoresponder},
                                       {"--remote-transport=", installedRemote}}) {
        bool named = false;
        for (const std::string& argument : extra)
            named = named || argument.rfind(option, 0) == 0;
        if (!named)
            argv.push_back(option + path);
    }
    argv.insert(argv.end(), extra.begin(), extra.end());
    return runCommand(argv);
}

inline std::string shellOutput(const std::string& command) {
    return runCommand({"/bin/sh", "-c", command}).out;
}

// A fresh sandbox with a private /usr/bin and no table directory, so that
// the setup program makes everything itself; master.cf is Debian's, with
// its chrooted smtp service.
class SetupTest : public SandboxTest {
protected:
    void SetUp() override {
        SandboxTest::SetUp();
        privateUsrBin();
        ::rmdir("/var/spool/postfix/korvo");
        // A hosting server sends mail out: no "Local only" error transports.
        ASSERT_EQ(0, shell("postconf -X default_transport relay_transport"));
    }
};

} // namespace korvo::test

#endif
