// Comma-separated lists the tool receives; mailnames stay inside the mail home.
#include "utils/MailValidate.h"
#include "utils/StringList.h"

#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace korvo::test {
namespace {

std::vector<std::string> split(const char* text, const char* separators) {
    const std::unique_ptr<char*, void (*)(char**)> list(string_split(text, separators), free_array);
    std::vector<std::string> pieces;
    for (char** p = list.get(); p != nullptr && *p != nullptr; ++p)
        pieces.emplace_back(*p);
    return pieces;
}

using V = std::vector<std::string>;

TEST(StringsTest, SplitSkipsSeparatorRunsAndMailnamesWithDotDotAreRefused) {
    EXPECT_EQ(split(",,a.example,,, b.example", ", "), (V{"a.example", "b.example"}));
    EXPECT_EQ(split("10-spam-", "-"), (V{"10", "spam", ""}));
    EXPECT_EQ(mail_validate("first.last", 0), 1);
    EXPECT_EQ(mail_validate("a..b", 0), 0);
    EXPECT_EQ(mail_validate("info", 3), 0);
}

} // namespace
} // namespace korvo::test
