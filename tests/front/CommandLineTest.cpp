// The built vornctl as the panel runs it: stdout, stderr and the exit status
// are checked separately, since the panel reads each of them.
#include "CommandFixture.h"

namespace korvo::test {
namespace {

// Help goes to stdout alone; a missing or unknown command puts its error and
// the same usage on stderr, leaving stdout empty.
TEST(CommandLineTest, UsageOnStdoutOrWithAnErrorOnStderr) {
    const CommandResult help = runVornctl({"--help", "--ignored"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out, "");
    EXPECT_EQ(help.err, "");
    for (const std::string word :
         {"", "--add-domain=example.com", "--ADD-DOMAIN", "--help-command"}) {
        const CommandResult bad =
            runVornctl(word.empty() ? std::vector<std::string>{} : std::vector<std::string>{word});
        EXPECT_EQ(bad.status, 1) << word;
        EXPECT_EQ(bad.out, "") << word;
        EXPECT_EQ(bad.err, (word.empty() ? "Error: no command specified\n"
                                         : "Error: invalid command " + word + "\n") +
                               help.out)
            << word;
    }
}

} // namespace
} // namespace korvo::test
