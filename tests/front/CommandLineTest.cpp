// The built vornctl as the panel runs it: stdout, stderr and the exit status
// are checked separately, since the panel reads each of them.
#include "CommandFixture.h"

namespace korvo::test {
namespace {

const std::string shortUsage =
    "Usage: vornctl <COMMAND> <COMMAND OPTIONS...>\n"
    "\t for a complete list of commands use ``vornctl --help-commands''\n"
    "\t for help on syntax for a particular command use ``vornctl <COMMAND> --help''\n"
    "\t for legacy complete help use ``vornctl --help-legacy''\n";

TEST(CommandLineTest, ShortUsageOnStdoutOrWithAnErrorOnStderr) {
    for (const std::string word : {"--help", "-h"}) {
        const CommandResult help = runVornctl({word, "--ignored"});
        EXPECT_EQ(help.status, 0);
        EXPECT_EQ(help.out, shortUsage);
        EXPECT_EQ(help.err, "");
    }
    const CommandResult none = runVornctl({});
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(none.out, "");
    EXPECT_EQ(none.err, "Error: no command specified\n" + shortUsage);
    for (const std::string word : {"--add-domain=example.com", "--ADD-DOMAIN", "--help-command"}) {
        const CommandResult bad = runVornctl({word});
        EXPECT_EQ(bad.status, 1) << word;
        EXPECT_EQ(bad.out, "") << word;
        EXPECT_EQ(bad.err, "Error: invalid command " + word + "\n" + shortUsage) << word;
    }
}

TEST(CommandLineTest, CommandListAlignsDescriptionsInOneColumn) {
    const CommandResult help = runVornctl({"--help-commands"});
    ASSERT_EQ(help.status, 0);
    const std::vector<std::string> out = lines(help.out);
    ASSERT_EQ(out.size(), 77u);
    EXPECT_EQ(out.front(), "Vornctl commands:");
    EXPECT_EQ(out[1], "--add-mailname                    adds mailname to the mail domain. "
                      "Optionally sets the mailbox quota");
    EXPECT_EQ(out[4], "        The noncrypted password is transferred in the environment variable "
                      "ORQ_PASSWORD,");
    int entries = 0;
    for (std::size_t i = 1; i < out.size(); ++i) {
        if (out[i].rfind("        ", 0) == 0)
            continue;
        ++entries;
        // Names are padded to the longest one plus two blanks: 34 columns.
        EXPECT_EQ(out[i].find_first_not_of(' ', out[i].find("  ")), 34u) << out[i];
    }
    EXPECT_EQ(entries, 69);
    EXPECT_EQ(out.back(),
              "-h, --help                        displays vornctl usage summary and exit");
}

TEST(CommandLineTest, LegacyHelpKeepsItsTrailingBlanks) {
    const CommandResult help = runVornctl({"--help-legacy"});
    ASSERT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("Usage: vornctl [OPTIONS]... \n  --add-mailname --domain-name", 0),
              0u);
    EXPECT_NE(help.out.find("\n  --features \n        returns PHP code which reflects state of "
                            "several features support in vornctl.\n        Currently they are "
                            "auth-type and format\n"),
              std::string::npos);
    EXPECT_NE(help.out.find("\n  --set-accounts-format --account-format=(\"compound\" | "
                            "\"both\")\n"),
              std::string::npos);
    EXPECT_EQ(lines(help.out).size(), 1u + 69 * 2 + 7);
}

} // namespace
} // namespace korvo::test
