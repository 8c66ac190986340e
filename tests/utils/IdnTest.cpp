// Every domain name goes through IDNA before it becomes a table key or a path.
#include "utils/Idn.h"
#include "utils/Exceptions.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>

namespace korvo::idn {
namespace {

using Owned = std::unique_ptr<char, void (*)(void*)>;

TEST(IdnTest, RealInternationalDomainsRoundTrip) {
    const std::pair<std::string, std::string> names[] = {
        {"bücher.example", "xn--bcher-kva.example"},
        {"例え.テスト", "xn--r8jz45g.xn--zckzah"},
        {"παράδειγμα.δοκιμή", "xn--hxajbheg2az3al.xn--jxalpdlp"},
        {"example.com", "example.com"}};
    for (const auto& [unicode, ascii] : names) {
        EXPECT_EQ(toAscii(unicode), ascii);
        EXPECT_EQ(toUtf8(ascii), unicode);
        EXPECT_EQ(Owned(idn_toascii(unicode.c_str()), std::free).get(), ascii);
    }
    EXPECT_EQ(toAscii("BÜCHER.example"), "xn--bcher-kva.example");
    EXPECT_EQ(emailToAscii("Info@bücher.example"), "Info@xn--bcher-kva.example");
    EXPECT_EQ(emailToAscii("no-at-sign"), "no-at-sign");
    EXPECT_STREQ(Owned(idn_email_toascii("a.b@例え.テスト"), std::free).get(),
                 "a.b@xn--r8jz45g.xn--zckzah");
}

TEST(IdnTest, InvalidNamesAreRefusedWithTheirCode) {
    const struct {
        std::string name;
        int code;
        const char* text;
    } invalid[] = {{std::string(64, 'a') + ".com", 5, "Invalid length"},
                   {"\xff\xfe.com", 9, "Iconv error"},
                   {"a\u200f\u05d0.com", 1, "Stringprep error"}};
    for (const auto& c : invalid) {
        try {
            toAscii(c.name);
            ADD_FAILURE() << c.name;
        } catch (const IdnaError& e) {
            EXPECT_EQ(e.code(), c.code);
            EXPECT_STREQ(e.what(), c.text);
        }
        idn_errno = 0;
        EXPECT_EQ(idn_email_toascii(("info@" + c.name).c_str()), nullptr);
        EXPECT_EQ(idn_errno, c.code);
    }
    EXPECT_EQ(idn_email_toascii("bücher.example"), nullptr);
    EXPECT_EQ(idn_errno, 1) << "an address without @ leaves idn_errno alone";
    EXPECT_STREQ(idn_strerror(42), "Unknown error");
}

} // namespace
} // namespace korvo::idn
