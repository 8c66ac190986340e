// String lists carry the panel's query results and the comma-separated
// lists the tool receives; mail_validate keeps mailnames inside the mail
// home.
#include "sandbox/Sandbox.h"
#include "utils/Accounts.h"
#include "utils/MailValidate.h"
#include "utils/StringList.h"
#include "utils/StringUtils.h"

#include <cstdlib>
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

TEST(StringsTest, SplitSkipsSeparatorRunsAndKeepsOnlyATrailingEmptyPiece) {
    EXPECT_EQ(split("info, sales", ", "), (V{"info", "sales"}));
    EXPECT_EQ(split(",,a.example,,, b.example", ", "), (V{"a.example", "b.example"}));
    EXPECT_EQ(split("10-spam-", "-"), (V{"10", "spam", ""}));
    EXPECT_EQ(split("single", ","), (V{"single"}));
}

TEST(StringsTest, TrimLowerAndFormat) {
    char text[] = " \t Mail.Example.COM \n";
    EXPECT_STREQ(strtolower(korvo_trim(text)), "mail.example.com");
    const std::unique_ptr<char, void (*)(void*)> lower(strtolower_dynamic("ÄB"), std::free);
    EXPECT_STREQ(lower.get(), "Äb");
    EXPECT_EQ(strtolower_dynamic(nullptr), nullptr);
    const std::unique_ptr<char, void (*)(void*)> query(asprintf_safe("%s=%d", "quota", -1),
                                                       std::free);
    EXPECT_STREQ(query.get(), "quota=-1");
}

TEST(StringsTest, MailnamesWithDotDotAreRefused) {
    EXPECT_EQ(mail_validate("first.last", 0), 1);
    EXPECT_EQ(mail_validate("..", 0), 0);
    EXPECT_EQ(mail_validate("a..b", 0), 0);
    EXPECT_EQ(mail_validate("info", 3), 0);
}

using AccountsTest = SandboxTest;

TEST_F(AccountsTest, MailAccountIsFound) {
    uid_t uid = 0;
    gid_t gid = 0;
    std::string home;
    ASSERT_EQ(korvo_getpw("popuser", &uid, &gid, &home), 0);
    EXPECT_NE(uid, 0u);
    EXPECT_EQ(korvo_ugid("popuser", 0), uid);
    EXPECT_EQ(korvo_ugid("popuser", 1), gid);
    EXPECT_EQ(home, "/var/qmail/mailnames");
    EXPECT_EQ(korvo_getpw("nosuchuser", &uid, nullptr, nullptr), -1);
    EXPECT_EQ(korvo_ugid("nosuchuser", 0), 0u);
}

} // namespace
} // namespace korvo::test
