// The command table gathers rows from every command family: each word must
// call the function of its own row, and no word may sit in two rows, where
// the later row would silently hide the earlier command.
#include "front/CommandTable.h"

#include <gtest/gtest.h>

namespace korvo::test {
namespace {

using namespace korvo::mail::postfix::vornctl_commands;

TEST(CommandTableTest, EveryWordCallsTheFunctionOfItsOwnRowAlone) {
    const CommandMap table = buildCommandTable();
    std::size_t words = 0;
    for (std::size_t i = 0; i < commandDescriptionCount; ++i) {
        const CommandDescription& row = commandDescriptions[i];
        for (const std::string& word : commandWords(row.name)) {
            ++words;
            ASSERT_EQ(table.count(word), 1u) << row.name;
            EXPECT_EQ(table.at(word), row.handler) << word;
        }
    }
    EXPECT_EQ(table.size(), words);
}

} // namespace
} // namespace korvo::test
