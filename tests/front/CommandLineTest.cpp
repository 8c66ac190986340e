// The built vornctl as the panel runs it: stdout, stderr and the exit status
// are checked separately, since the panel reads each of them.
#include "CommandFixture.h"

#include <filesystem>

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

// The usage text of every command that takes options and the legacy help, byte for byte.
TEST(CommandLineTest, EveryCommandsUsageMatchesItsReferenceText) {
    const std::filesystem::path references = VORNCTL_TEST_DATA_DIR "/help";
    int checked = 0;
    for (const auto& entry : std::filesystem::directory_iterator(references)) {
        const std::string word = "--" + entry.path().stem().string();
        const CommandResult usage = runVornctl({word, "--help"});
        EXPECT_EQ(usage.status, 0) << word;
        EXPECT_EQ(usage.err, "") << word;
        EXPECT_EQ(usage.out, readFile(entry.path())) << word;
        ++checked;
    }
    EXPECT_EQ(checked, 52);
}

} // namespace
} // namespace korvo::test
