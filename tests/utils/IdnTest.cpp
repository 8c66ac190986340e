// Every domain name goes through IDNA before it becomes a table key or a path.
#include "utils/Idn.h"
#include "utils/Exceptions.h"

#include <gtest/gtest.h>

namespace korvo::idn {
namespace {

TEST(IdnTest, DomainsRoundTripAndInvalidOnesAreRefusedWithTheirCode) {
    // Latin names and addresses convert through the name checks (tests/front), the
    // autoresponder and .qmail (tests/mail); a script of its own and the way back here.
    EXPECT_EQ(toAscii("例え.テスト"), "xn--r8jz45g.xn--zckzah");
    EXPECT_EQ(toUtf8("xn--r8jz45g.xn--zckzah"), "例え.テスト");

    const std::pair<std::string, int> invalid[] = {
        {std::string(64, 'a') + ".com", 5}, {"\xff\xfe.com", 9}, {"a\u200f\u05d0.com", 1}};
    for (const auto& [name, code] : invalid) {
        try {
            toAscii(name);
            ADD_FAILURE() << name;
        } catch (const IdnaError& e) {
            EXPECT_EQ(e.code(), code);
        }
        idn_errno = 0;
        EXPECT_EQ(idn_email_toascii(("info@" + name).c_str()), nullptr);
        EXPECT_EQ(idn_errno, code);
    }
}

} // namespace
} // namespace korvo::idn
