// The generated bash completion, driven through bash itself, against the
// options the built vornctl really accepts.
#include "setup/SetupFixture.h"

#include "front/CommandTable.h"

#include <algorithm>
#include <sstream>

namespace korvo::test {
namespace {

namespace commands = mail::postfix::vornctl_commands;

const std::string completionFile = std::string(VORNCTL_DOC_DIR) + "/vornctl.bash-completion";

// What bash offers after "vornctl WORDS... CURRENT<TAB>", one entry each.
std::vector<std::string> complete(const std::vector<std::string>& words) {
    std::string array = "vornctl";
    for (const std::string& word : words)
        array += " '" + word + "'";
    const CommandResult result =
        runCommand({"/bin/bash", "-c",
                    "source " + completionFile + "; COMP_WORDS=(" + array +
                        "); COMP_CWORD=" + std::to_string(words.size()) +
                        "; _vornctl 2>/dev/null; printf '%s\\n' \"${COMPREPLY[@]}\""});
    EXPECT_EQ(0, result.status) << result.err;
    std::vector<std::string> offered;
    std::istringstream lines(result.out);
    for (std::string line; std::getline(lines, line);)
        if (!line.empty())
            offered.push_back(line);
    return offered;
}

// The words of a command table row: "-p, --start-smtpd" gives both.
std::vector<std::string> rowWords(const std::string& name) {
    std::vector<std::string> words;
    std::istringstream parts(name);
    for (std::string word; parts >> word;)
        words.push_back(word.back() == ',' ? word.substr(0, word.size() - 1) : word);
    return words;
}

TEST_F(SetupTest, CompletionOffersTheWordsAndTheOptionsEachCommandAccepts) {
    ASSERT_EQ(0, shell("bash -n " + completionFile));
    EXPECT_EQ((std::vector<std::string>{"--turn-on-domain", "--turn-off-domain"}),
              complete({"--turn-o"}));
    // Options the table's syntax line never names come from the command's declarations.
    EXPECT_EQ((std::vector<std::string>{"--set-catchall"}),
              complete({"--add-domain-alias", "--domain-name=example.com", "--set-c"}));
    EXPECT_EQ((std::vector<std::string>{"--domain-name=", "--domain-alias-name="}),
              complete({"--add-domain-alias", "--dom"}));
    EXPECT_TRUE(complete({"--start-smtpd", "--"}).empty());

    const std::vector<std::string> allWords = complete({""});
    std::size_t withOptions = 0;
    for (std::size_t i = 0; i < commands::commandDescriptionCount; ++i) {
        const std::vector<std::string> words = rowWords(commands::commandDescriptions[i].name);
        for (const std::string& word : words)
            EXPECT_EQ(1, std::count(allWords.begin(), allWords.end(), word)) << word;
        if (commands::commandDescriptions[i].syntax[0] == '\0')
            continue;
        ++withOptions;
        const std::string& command = words.back();
        const std::vector<std::string> offered = complete({command, "--"});
        EXPECT_EQ(1, std::count(offered.begin(), offered.end(), "--help")) << command;
        // Each offered option is known, and takes a value exactly when offered with "=".
        for (const std::string& option : offered) {
            if (option == "--help")
                continue;
            const std::string name = option.substr(0, option.find('='));
            const CommandResult bare = runVornctl({command, "--help", name});
            if (option.back() == '=') {
                EXPECT_NE(std::string::npos, bare.err.find("required argument"))
                    << command << " " << name << ": " << bare.err;
                const CommandResult given = runVornctl({command, option + "1", "--help"});
                EXPECT_EQ(std::string::npos, given.err.find("unrecognised option"))
                    << command << " " << option << ": " << given.err;
            } else {
                EXPECT_EQ(0, bare.status) << command << " " << name << ": " << bare.err;
            }
        }
    }
    EXPECT_GT(withOptions, 40u);
}

} // namespace
} // namespace korvo::test
