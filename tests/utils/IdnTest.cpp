// Every domain name goes through IDNA before it becomes a table key or a path.
#include "utils/Idn.h"
#include "utils/Exceptions.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>

namespace korvo::idn {
namespace {

using Owned = std::unique_ptr<char, void (*)(void*)>;

TEST(IdnTest, RealDomainsRoundTripAndInvalidOnesAreRefusedWithTheirCode) {
    const std::pair<std::string, std::string> names[] = {
        {"bücher.example", "xn--bcher-kva.example"},
        {"例え.テスト", "xn--r8jz45g.xn--zckzah"},
        {"example.com", "example.com"}};
    for (const auto& [unicode, ascii] : names) {
        EXPECT_EQ(toAscii(unicode), ascii);
        EXPECT_EQ(toUtf8(ascii), unicode);
        EXPECT_EQ(Owned(idn_toascii(unicode.c_str()), std::free).get(), ascii);
    }
    // Addresses are covered through the name checks (tests/front) and .qmail (tests/mail/storage).
    EXPECT_EQ(toAscii("BÜCHER.example"), "xn--bcher-kva.example");

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
