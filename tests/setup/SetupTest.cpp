#include "setup/SetupFixture.h"

namespace korvo::test {
namespace {

// Everything the setup program decides: main.cf, master.cf, the files it
// makes with their owners and modes, the link.
std::string installationState() {
    return shellOutput("postconf -n; cat /etc/postfix/master.cf; "
                       "stat -c '%n %U %G %a %F' /var/spool/postfix/korvo "
                       "/var/spool/postfix/korvo/* /usr/local/orq/handlers "
                       "/usr/local/orq/handlers/info /var/qmail/mailnames /var/lock/files; "
                       "readlink /usr/bin/deliverquota; getent passwd popuser");
}

std::string configured(const std::string& name) {
    return shellOutput("postconf -n -h " + name);
}

const std::string authDb = "/var/spool/postfix/korvo/passwd.db";

std::string sqlite(const std::string& query) {
    return shellOutput("sqlite3 " + authDb + " \"" + query + "\"");
}

TEST_F(SetupTest, SecondRunFindsEverythingInPlaceAndPrintsNothing) {
    const CommandResult first = runSetup();
    ASSERT_EQ(0, first.status) << first.out << first.err;
    EXPECT_EQ("", first.err);
    const std::string state = installationState();

    EXPECT_EQ("hash:/var/spool/postfix/korvo/virtual_domains\n1\n"
              "hash:/etc/aliases, hash:/var/spool/postfix/korvo/aliases\n",
              configured("virtual_mailbox_domains korvo_destination_recipient_limit alias_maps"));
    EXPECT_NE(std::string::npos,
              readFile("/etc/postfix/master.cf")
                  .find("korvo unix - n n - - pipe flags=DRh user=popuser null_sender= argv=" +
                        agentBinary + " --sender=${sender} -- ${recipient}\n"));
    for (const char* table :
         {"virtual_domains", "vmailbox", "virtual", "aliases", "blacklists", "poplock"}) {
        const CommandResult dump = runCommand(
            {"/usr/sbin/postmap", "-s", std::string("hash:/var/spool/postfix/korvo/") + table});
        EXPECT_EQ(0, dump.status) << table << dump.err;
        EXPECT_EQ("", dump.out) << table;
    }
    EXPECT_EQ("/usr/sbin/deliverquota.maildrop\n", shellOutput("readlink /usr/bin/deliverquota"));

    EXPECT_EQ("domains\nusers\n3\n",
              sqlite("SELECT name FROM sqlite_master WHERE type='table' AND name IN "
                     "('domains','users') ORDER BY name; "
                     "SELECT count(*) FROM sqlite_master WHERE type='trigger'"));
    EXPECT_EQ(
        "postfix root 460\npostfix root 770\nroot popuser 750\n",
        shellOutput("stat -c '%U %G %a' " + authDb + " /var/spool/postfix/korvo " + mailRoot));

    // A record stored meanwhile survives the second run.
    ASSERT_EQ(0, shell("echo 'info@example.com example.com/info/Maildir/' | "
                       "postmap -r -i hash:/var/spool/postfix/korvo/vmailbox"));
    const CommandResult second = runSetup();
    EXPECT_EQ(0, second.status);
    EXPECT_EQ("", second.out + second.err);
    EXPECT_EQ(state, installationState());
    EXPECT_EQ("example.com/info/Maildir/\n",
              shellOutput("postmap -q info@example.com hash:/var/spool/postfix/korvo/vmailbox"));
}

TEST_F(SetupTest, ForeignSettingsStayUnlessForced) {
    ASSERT_EQ(0, shell("postconf -e virtual_transport=lmtp:unix:private/dovecot "
                       "'smtpd_sender_restrictions=permit_mynetworks'"));
    ASSERT_EQ(0, shell("printf 'korvo unix - n n - - pipe user=nobody argv=/bin/false\\n' "
                       ">> /etc/postfix/master.cf"));
    ASSERT_EQ(0, shell("mkdir -p -m 0700 /usr/local/orq/handlers"));

    const CommandResult kept = runSetup();
    EXPECT_EQ(1, kept.status);
    EXPECT_NE(std::string::npos,
              kept.err.find("virtual_transport is \"lmtp:unix:private/dovecot\""))
        << kept.err;
    EXPECT_NE(std::string::npos, kept.err.find("service korvo")) << kept.err;
    EXPECT_NE(std::string::npos, kept.err.find("/usr/local/orq/handlers has owner 0:0 mode 0700"))
        << kept.err;
    EXPECT_EQ("lmtp:unix:private/dovecot\n", configured("virtual_transport"));
    EXPECT_NE(std::string::npos, readFile("/etc/postfix/master.cf").find("argv=/bin/false"));
    EXPECT_EQ("700\n", shellOutput("stat -c %a /usr/local/orq/handlers"));
    // List settings keep what was there and gain the tool's item.
    EXPECT_EQ("permit_mynetworks, check_sender_access hash:/var/spool/postfix/korvo/blacklists\n",
              configured("smtpd_sender_restrictions"));
    EXPECT_EQ("hash:/var/spool/postfix/korvo/vmailbox\n", configured("virtual_mailbox_maps"));

    const CommandResult forced = runSetup({"--force"});
    EXPECT_EQ(0, forced.status) << forced.err;
    EXPECT_NE(std::string::npos,
              forced.out.find("virtual_transport = korvo (was \"lmtp:unix:private/dovecot\")"));
    EXPECT_EQ("korvo\n", configured("virtual_transport"));
    EXPECT_EQ(std::string::npos, readFile("/etc/postfix/master.cf").find("argv=/bin/false"));
    EXPECT_EQ("755\n", shellOutput("stat -c %a /usr/local/orq/handlers"));
    EXPECT_EQ(0, runSetup().status);
}

TEST_F(SetupTest, RefusesWhatItCannotSafelyTakeOver) {
    // Someone else's database is never touched, nor a planted link followed.
    ASSERT_EQ(0, shell("mkdir -p /var/spool/postfix/korvo"));
    sqlite("CREATE TABLE other(x)");
    ASSERT_EQ(0, shell("ln -s /var/tmp /usr/local/orq/handlers"));
    const CommandResult result = runSetup();
    EXPECT_EQ(1, result.status);
    EXPECT_NE(std::string::npos, result.err.find("holds tables other than")) << result.err;
    EXPECT_NE(std::string::npos, result.err.find("/usr/local/orq/handlers is not a directory"))
        << result.err;
    EXPECT_EQ("other\n", sqlite("SELECT name FROM sqlite_master WHERE type='table'"));
    EXPECT_FALSE(S_ISDIR(statOf("/var/tmp/info").st_mode));
    // The other steps were carried out all the same.
    EXPECT_EQ("korvo\n", configured("virtual_transport"));
}

TEST_F(SetupTest, CreatesTheMailAccountWhenMissing) {
    ASSERT_EQ(0, shell("userdel popuser && (groupdel popuser 2>/dev/null; true)"));
    const CommandResult result = runSetup();
    ASSERT_EQ(0, result.status) << result.err;
    EXPECT_NE(std::string::npos, result.out.find("created user popuser"));
    const struct passwd* account = ::getpwnam("popuser");
    ASSERT_NE(nullptr, account);
    EXPECT_EQ(mailRoot, account->pw_dir);
    EXPECT_STREQ("/usr/sbin/nologin", account->pw_shell);
    EXPECT_EQ("root popuser 750\n", shellOutput("stat -c '%U %G %a' " + mailRoot));
}

} // namespace
} // namespace korvo::test
