#include "sandbox/MailAuthDatabase.h"
#include "setup/SetupFixture.h"

#include <algorithm>
#include <cstdlib>
#include <pwd.h>
#include <sys/stat.h>

namespace korvo::test {
namespace {

const std::string authDb = "/var/spool/postfix/korvo/passwd.db";

// Everything the setup program decides: main.cf, master.cf, the files it
// makes with their owners and modes, the link, the mail account.
std::string installationState() {
    return shellOutput("postconf -n; cat /etc/postfix/master.cf /etc/postfix/sasl/smtpd.conf; "
                       "stat -c '%n %U %G %a %F' /var/spool/postfix/korvo "
                       "/var/spool/postfix/korvo/* /usr/local/orq/handlers "
                       "/usr/local/orq/handlers/info /var/qmail/mailnames /var/lock/files; "
                       "readlink /usr/bin/deliverquota; getent passwd popuser");
}

std::string configured(const std::string& name) {
    return shellOutput("postconf -n -h " + name);
}

TEST_F(SetupTest, FirstRunInstallsEverythingSecondFindsItInPlace) {
    ASSERT_EQ(0, shell("userdel popuser && (groupdel popuser 2>/dev/null; true)"));
    const CommandResult first = runSetup();
    ASSERT_EQ(0, first.status) << first.out << first.err;
    EXPECT_EQ("", first.err);
    const struct passwd* account = ::getpwnam("popuser");
    ASSERT_NE(nullptr, account);
    EXPECT_EQ(mailRoot, account->pw_dir);
    EXPECT_STREQ("/usr/sbin/nologin", account->pw_shell);

    // What the settings do is proven by mail through the running servers (tests/flow).
    EXPECT_EQ(
        "postfix root 460\npostfix root 770\nroot popuser 750\n",
        shellOutput("stat -c '%U %G %a' " + authDb + " /var/spool/postfix/korvo " + mailRoot));

    // A record stored meanwhile survives the second run.
    const std::string state = installationState();
    ASSERT_EQ(0, shell("echo 'info@example.com example.com/info/Maildir/' | "
                       "postmap -r -i hash:/var/spool/postfix/korvo/vmailbox"));
    const CommandResult second = runSetup();
    EXPECT_EQ(0, second.status);
    EXPECT_EQ("", second.out + second.err);
    EXPECT_EQ(state, installationState());
    EXPECT_EQ("example.com/info/Maildir/\n",
              shellOutput("postmap -q info@example.com hash:/var/spool/postfix/korvo/vmailbox"));
}

TEST_F(SetupTest, ASettingSomeoneElseMadeStopsTheRunBeforeAnythingChanges) {
    // A chrooted smtp an administrator tailored alone stops the run; the
    // entry as Debian ships it is unchrooted unasked (the fixture's first runs).
    ASSERT_EQ(0, shell("postconf -F -e smtp/inet/chroot=y && "
                       "postconf -P -e smtp/inet/smtpd_banner=tailored"));
    const std::string pristine = installationState();
    const CommandResult chrooted = runSetup();
    EXPECT_EQ(1, chrooted.status);
    EXPECT_NE(std::string::npos, chrooted.err.find("service smtp runs chrooted")) << chrooted.err;
    EXPECT_EQ(pristine, installationState());

    ASSERT_EQ(0, shell("postconf -e virtual_transport=lmtp:unix:private/dovecot "
                       "'smtpd_sender_restrictions=permit_mynetworks' && "
                       "printf 'korvo unix - n n - - pipe user=nobody argv=/bin/false\\n' "
                       ">> /etc/postfix/master.cf && mkdir -p -m 0700 /usr/local/orq/handlers && "
                       "mkdir -p /var/spool/postfix/korvo /etc/postfix/sasl && "
                       "echo 'pwcheck_method: saslauthd' > /etc/postfix/sasl/smtpd.conf"));
    authSql("CREATE TABLE other(x)");
    const std::string before = installationState();

    const CommandResult kept = runSetup();
    EXPECT_EQ(1, kept.status);
    EXPECT_EQ("", kept.out);
    for (const char* refusal : {"main.cf: virtual_transport is \"lmtp:unix:private/dovecot\"",
                                "master.cf: service korvo is", "service smtp runs chrooted",
                                "smtpd.conf differs", "nothing was changed"})
        EXPECT_NE(std::string::npos, kept.err.find(refusal)) << kept.err;
    EXPECT_EQ(before, installationState());
    EXPECT_EQ("", configured("virtual_mailbox_domains"));

    // --force takes the settings over, never someone else's database, nor
    // does it follow a planted link; list settings keep what was there.
    const CommandResult forced = runSetup({"--force"});
    EXPECT_EQ(1, forced.status);
    EXPECT_NE(std::string::npos, forced.err.find("holds tables other than")) << forced.err;
    EXPECT_EQ("korvo\n", configured("virtual_transport"));
    EXPECT_EQ("smtp/inet/chroot = n\n", shellOutput("postconf -F smtp/inet/chroot"));
    EXPECT_NE(std::string::npos,
              readFile("/etc/postfix/sasl/smtpd.conf").find("pwcheck_method: authdaemond"));
    EXPECT_EQ("permit_mynetworks, check_sender_access hash:/var/spool/postfix/korvo/blacklists\n",
              configured("smtpd_sender_restrictions"));
    EXPECT_EQ(std::string::npos, readFile("/etc/postfix/master.cf").find("argv=/bin/false"));
    EXPECT_EQ("755\n", shellOutput("stat -c %a /usr/local/orq/handlers"));
    EXPECT_EQ("other\n", authSql("SELECT name FROM sqlite_master WHERE type='table'"));
    ASSERT_EQ(0, shell("rm -rf /usr/local/orq/handlers && ln -s /var/tmp /usr/local/orq/handlers"));
    const CommandResult planted = runSetup({"--force"});
    EXPECT_NE(std::string::npos, planted.err.find("/usr/local/orq/handlers is not a directory"))
        << planted.err;
    EXPECT_FALSE(S_ISDIR(statOf("/var/tmp/info").st_mode));
}

// Mail for other hosts passes korvo-remote unless an administrator routed it
// otherwise; a per-sender relay host, which korvo-remote would bypass, takes
// the routing back even after setup made it.
TEST_F(SetupTest, RoutingAnAdministratorChoseIsKeptAndSaidSo) {
    ASSERT_EQ(0, shell("postconf -e default_transport=smtp-v4"));
    const CommandResult first = runSetup();
    EXPECT_EQ(0, first.status) << first.err;
    EXPECT_NE(std::string::npos,
              first.err.find("main.cf: default_transport is \"smtp-v4\": mail it routes to "
                             "other hosts does not pass the before-remote handlers"))
        << first.err;
    EXPECT_EQ("smtp-v4\n", configured("default_transport"));
    EXPECT_EQ("korvo-remote\n", configured("relay_transport"));

    ASSERT_EQ(0, shell("postconf -e sender_dependent_relayhost_maps=hash:/etc/postfix/relays"));
    const CommandResult yielded = runSetup();
    EXPECT_EQ(0, yielded.status) << yielded.err;
    EXPECT_EQ("relay\n", configured("relay_transport"));
    const CommandResult again = runSetup();
    EXPECT_EQ(0, again.status);
    EXPECT_EQ("", again.out);
}

// Each postconf run costs a fresh start (seconds where the sandbox is slow):
// one read of main.cf's settings, one of list defaults, one write.
TEST_F(SetupTest, MainCfIsReadOnceAndWrittenOnce) {
    const std::string trace = "/run/vornctl-setup.trace";
    runSetup({"--force"}, {"/usr/bin/strace", "-f", "-qq", "-s", "256", "-e", "trace=execve", "-e",
                           "signal=none", "-o", trace});
    const std::vector<std::string> runs =
        lines(shellOutput("grep -o 'execve(\"/usr/sbin/postconf\", \\[[^]]*' " + trace));
    for (const std::string argument : {"\"-n\"", "\"-d\", ", "\"virtual_transport=korvo\""})
        EXPECT_EQ(1, std::count_if(runs.begin(), runs.end(),
                                   [&](const std::string& run) {
                                       return run.find(argument) != std::string::npos;
                                   }))
            << argument << "\n"
            << ::testing::PrintToString(runs);
}

TEST_F(SetupTest, LockDirectoryComesBackAfterABoot) {
    ASSERT_EQ(0, runSetup({"--force"}).status);
    // A boot empties /run/lock: the entry brings the directory back, and
    // without it the first lock does.
    ASSERT_EQ(0, shell("rm -rf /run/lock/files && systemd-tmpfiles --create "
                       "/etc/tmpfiles.d/vornctl.conf"));
    EXPECT_EQ("root root 755\n", shellOutput("stat -c '%U %G %a' /var/lock/files"));
    ASSERT_EQ(0, shell("rm -rf /run/lock/files"));
    const CommandResult added = runVornctl({"--add-badmailfrom", "--domain-name=spam.example"});
    EXPECT_EQ(0, added.status) << added.out << added.err;
    EXPECT_EQ("root root 755\n", shellOutput("stat -c '%U %G %a' /var/lock/files"));
}

TEST_F(SetupTest, PackageInstallsRunsAndRemovesCleanly) {
    std::string out = "/var/tmp/vornctl-deb-XXXXXX", root = "/var/tmp/vornctl-root-XXXXXX";
    ASSERT_TRUE(::mkdtemp(out.data()) && ::mkdtemp(root.data()));
    const CommandResult built =
        runCommand({VORNCTL_CPACK, "-G", "DEB", "--config", VORNCTL_CPACK_CONFIG, "-B", out});
    ASSERT_EQ(0, built.status) << built.out << built.err;
    std::string deb = shellOutput("ls " + out + "/*.deb | head -n 1");
    deb.pop_back();
    // What an administrator installs passes Debian's own checks.
    if (::access("/usr/bin/lintian", X_OK) == 0) {
        // lintian leaves files in its TMPDIR: the sandbox's own /var/tmp.
        const CommandResult checked =
            runCommand({"/usr/bin/lintian", "--fail-on", "error,warning", deb}, {"TMPDIR=" + out});
        EXPECT_EQ(0, checked.status) << checked.out << checked.err;
        EXPECT_EQ("", checked.out);
    }

    // A throw-away root with an empty dpkg database, dependencies not installed.
    const std::string dpkg = "/usr/bin/dpkg --root=" + root +
                             " --force-script-chrootless --force-not-root --force-depends ";
    const CommandResult installed = runCommand(
        {"/bin/sh", "-c",
         "cd " + root + " && mkdir -p var/lib/dpkg/info var/lib/dpkg/updates && " +
             "touch var/lib/dpkg/status var/lib/dpkg/available && " + dpkg + "-i " + deb});
    ASSERT_EQ(0, installed.status) << installed.out << installed.err;
    EXPECT_EQ(0, runCommand({root + "/usr/sbin/vornctl", "--help-commands"}).status);
    const CommandResult setup =
        runCommand({root + "/usr/sbin/vornctl-setup",
                    "--delivery-agent=" + root + "/usr/libexec/vornctl/vornctl-deliver"});
    EXPECT_EQ(0, setup.status) << setup.out << setup.err;
    EXPECT_EQ("korvo\n", configured("virtual_transport"));

    EXPECT_EQ(0, shell(dpkg + "--purge vornctl >/dev/null"));
    EXPECT_EQ(0, shell("cd " + root + " && test ! -e usr/sbin/vornctl && "
                       "test ! -e usr/libexec/vornctl/vornctl-deliver"));
}

} // namespace
} // namespace korvo::test
