#include "setup/SetupFixture.h"

#include "front/CommandTable.h"

#include <cstdlib>

namespace korvo::test {
namespace {

namespace commands = mail::postfix::vornctl_commands;

// A directory below /var/tmp, which the sandbox throws away.
std::string scratchDirectory(const char* name) {
    std::string path = std::string("/var/tmp/") + name + "-XXXXXX";
    EXPECT_NE(nullptr, ::mkdtemp(path.data()));
    return path;
}

TEST_F(SetupTest, PackageInstallsRunsAndRemovesCleanly) {
    const std::string out = scratchDirectory("vornctl-deb");
    const CommandResult built =
        runCommand({VORNCTL_CPACK, "-G", "DEB", "--config", VORNCTL_CPACK_CONFIG, "-B", out});
    ASSERT_EQ(0, built.status) << built.out << built.err;
    std::string deb = shellOutput("ls " + out + "/*.deb | head -n 1");
    deb.pop_back();

    const std::string depends = shellOutput("dpkg-deb -f " + deb + " Depends");
    for (const char* needed : {"postfix", "postfix-pcre", "maildrop", "libsqlite3", "libidn"})
        EXPECT_NE(std::string::npos, depends.find(needed)) << depends;

    // A throw-away root with an empty dpkg database; dependencies checked by name above.
    const std::string root = scratchDirectory("vornctl-root");
    ASSERT_EQ(0, shell("mkdir -p " + root + "/var/lib/dpkg/info " + root +
                       "/var/lib/dpkg/updates && touch " + root + "/var/lib/dpkg/status " + root +
                       "/var/lib/dpkg/available"));
    const CommandResult installed =
        runCommand({"/usr/bin/dpkg", "--root=" + root, "--force-depends",
                    "--force-script-chrootless", "--force-not-root", "-i", deb});
    ASSERT_EQ(0, installed.status) << installed.out << installed.err;

    const std::vector<std::string> files = {"/usr/sbin/vornctl",
                                            "/usr/sbin/vornctl-setup",
                                            "/usr/libexec/vornctl/vornctl-deliver",
                                            "/usr/share/man/man8/vornctl.8.gz",
                                            "/usr/share/man/man8/vornctl-setup.8.gz",
                                            "/usr/share/man/man8/vornctl-deliver.8.gz",
                                            "/usr/share/bash-completion/completions/vornctl",
                                            "/usr/lib/tmpfiles.d/vornctl.conf"};
    for (const std::string& file : files)
        EXPECT_TRUE(S_ISREG(statOf(root + file).st_mode)) << file;

    EXPECT_EQ(0, runCommand({root + "/usr/sbin/vornctl", "--help-commands"}).status);
    // The installed man page names every command word (the completion is tested on its own).
    const std::string page = shellOutput("zcat " + root + "/usr/share/man/man8/vornctl.8.gz");
    for (std::size_t i = 0; i < commands::commandDescriptionCount; ++i) {
        const std::string name = commands::commandDescriptions[i].name;
        const std::string word = name.substr(name.rfind(' ') + 1);
        std::string escaped;
        for (const char c : word)
            escaped += c == '-' ? std::string("\\-") : std::string(1, c);
        EXPECT_NE(std::string::npos, page.find(escaped)) << word;
    }
    EXPECT_EQ("", runCommand({"/usr/bin/man", "--warnings", "-l",
                              root + "/usr/share/man/man8/vornctl.8.gz"})
                      .err);

    const CommandResult setup =
        runCommand({root + "/usr/sbin/vornctl-setup",
                    "--delivery-agent=" + root + "/usr/libexec/vornctl/vornctl-deliver"});
    EXPECT_EQ(0, setup.status) << setup.out << setup.err;
    EXPECT_EQ("korvo\n", shellOutput("postconf -h virtual_transport"));

    const CommandResult removed =
        runCommand({"/usr/bin/dpkg", "--root=" + root, "--force-script-chrootless",
                    "--force-not-root", "--purge", "vornctl"});
    EXPECT_EQ(0, removed.status) << removed.out << removed.err;
    for (const std::string& file : files)
        EXPECT_EQ(0u, statOf(root + file).st_mode) << file;
}

} // namespace
} // namespace korvo::test
