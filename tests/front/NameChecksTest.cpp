// The name checks, one table of accepted and refused names per kind.
#include "front/NameChecks.h"
#include "utils/Exceptions.h"
#include "utils/Idn.h"

#include <gtest/gtest.h>
#include <stdexcept>
#include <string>
#include <vector>

namespace korvo::mail::postfix::vornctl_commands {
namespace {

struct Case {
    std::string name;
    bool accepted;
};

std::string label(std::size_t n) {
    return std::string(n, 'a');
}

// labels of 63 bytes and one last label so that the whole is `total` bytes.
std::string domainOfLength(std::size_t total) {
    std::string name;
    while (total - name.size() > 64)
        name += label(63) + ".";
    return name + label(total - name.size());
}

void expectTable(bool (*predicate)(const std::string&), void (*check)(const std::string&),
                 const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        EXPECT_EQ(predicate(c.name), c.accepted) << "[" << c.name << "]";
        if (c.accepted) {
            EXPECT_NO_THROW(check(c.name)) << "[" << c.name << "]";
            continue;
        }
        try {
            check(c.name);
            ADD_FAILURE() << "accepted [" << c.name << "]";
        } catch (const std::invalid_argument& e) {
            EXPECT_EQ(e.what(), c.name);
        }
    }
}

TEST(NameChecksTest, DomainNames) {
    ASSERT_EQ(domainOfLength(253).size(), 253u);
    expectTable(isDomainName, checkDomainName,
                {{"example.com", true},
                 {"Example.COM", true},
                 {"localhost", true},
                 {"mail-1.sub_domain.example.org", true},
                 {"xn--bcher-kva.example", true},
                 {label(63) + ".com", true},
                 {label(64) + ".com", false},
                 {domainOfLength(253), true},
                 {domainOfLength(254), false},
                 {"", false},
                 {".", false},
                 {"..", false},
                 {"/", false},
                 {"../../etc", false},
                 {".example.com", false},
                 {"example.com.", false},
                 {"example..com", false},
                 {"exa mple.com", false},
                 {"example.com\n", false},
                 {"exa\tmple.com", false},
                 {"exam'ple.com", false},
                 {"$(touch /tmp/pwned)", false},
                 {"user@example.com", false},
                 {"b\xfc"
                  "cher.example",
                  false}});
}

TEST(NameChecksTest, MailNames) {
    expectTable(isMailName, checkMailName,
                {{"info", true},
                 {"John.Smith", true},
                 {"first+tag", true},
                 {"a_b-c", true},
                 {"\xd0\xb8\xd0\xbd\xd1\x84\xd0\xbe", true}, // Cyrillic, valid UTF-8
                 {label(64), true},
                 {label(65), false},
                 {"", false},
                 {".", false},
                 {"..", false},
                 {"a..b", false},
                 {"../../etc", false},
                 {"a/b", false},
                 {"a@b", false},
                 {"a,b", false},
                 {"a b", false},
                 {"a\tb", false},
                 {"a\nb", false},
                 {"a\x7f", false},
                 {"o'neil", false},
                 {"say\"hi", false},
                 {"back\\slash", false},
                 {"`id`", false},
                 {"$(touch /tmp/pwned)", false},
                 {"\xff\xfe", false},
                 {"\xc0\xaf", false},     // overlong "/"
                 {"\xed\xa0\x80", false}, // surrogate
                 {"\xe2\x82", false}});   // cut short
}

TEST(NameChecksTest, Addresses) {
    expectTable(isAddress, checkAddress,
                {{"info@example.com", true},
                 {label(64) + "@" + domainOfLength(253), true},
                 {label(65) + "@example.com", false},
                 {"info@" + domainOfLength(254), false},
                 {"info", false},
                 {"@example.com", false},
                 {"info@", false},
                 {"info@example.com\n|/bin/sh", false},
                 {"info@ex@ample.com", false},
                 {"in fo@example.com", false},
                 {"a..b@example.com", false},
                 {"../x@example.com", false}});
}

TEST(NameChecksTest, FileNames) {
    expectTable(isFileName, checkFileName,
                {{"report.pdf", true},
                 {"John's report (final).pdf", true},
                 {".hidden", true},
                 {"a..b", true},
                 {"\xc3\xbc"
                  "bersicht.txt",
                  true},
                 {label(255), true},
                 {label(256), false},
                 {"", false},
                 {".", false},
                 {"..", false},
                 {"/", false},
                 {"../../etc/passwd", false},
                 {"dir/file", false},
                 {"a\nb", false},
                 {"a\tb", false},
                 {"a\x7f", false},
                 {"\xff.txt", false}});
}

TEST(NameChecksTest, SingleLines) {
    expectTable(isSingleLine, checkSingleLine,
                {{"", true},
                 {"v=spf1 include:_spf.example.com ~all", true},
                 {"/usr/local/bin/filter --mode=strict", true},
                 {"two\nlines", false},
                 {"cr\r", false},
                 {"tab\there", false},
                 {"\xfe", false}});
}

// The converting forms refuse with the text as the command line gave it,
// and let internationalised names through in their ASCII form.
TEST(NameChecksTest, ConversionThenCheck) {
    EXPECT_EQ(asciiDomainName("b\xc3\xbc"
                              "cher.example"),
              "xn--bcher-kva.example");
    EXPECT_EQ(asciiAddress("info@b\xc3\xbc"
                           "cher.example"),
              "info@xn--bcher-kva.example");
    EXPECT_EQ(asciiAddress("\xd0\xb8\xd0\xbd\xd1\x84\xd0\xbe@example.com"),
              "\xd0\xb8\xd0\xbd\xd1\x84\xd0\xbe@example.com");
    // libidn itself refuses empty labels ("Invalid length"); what it lets
    // through, the check refuses.
    EXPECT_THROW(asciiDomainName("../../etc"), korvo::idn::IdnaError);
    for (const std::string bad : {"/", "a b.com", "x.com\n", "$(touch /tmp/pwned)"}) {
        try {
            asciiDomainName(bad);
            ADD_FAILURE() << "accepted [" << bad << "]";
        } catch (const std::invalid_argument& e) {
            EXPECT_EQ(e.what(), bad);
        }
    }
    EXPECT_THROW(asciiAddress("info@x.com\n&evil@y.com"), std::invalid_argument);
    EXPECT_THROW(asciiAddress("no-at-sign"), std::invalid_argument);
    // Bytes that are not UTF-8 never pass, whichever step refuses them.
    EXPECT_ANY_THROW(asciiDomainName("b\xfc"
                                     "cher.example"));
}

TEST(NameChecksTest, MailValidateExcKeepsTheValidatorsVerdict) {
    EXPECT_EQ(mailname_validators::mailValidateExc("info", MAIL_VALIDATE_MAILNAME), 1);
    try {
        mailname_validators::mailValidateExc("a..b", MAIL_VALIDATE_MAILNAME);
        ADD_FAILURE();
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ(e.what(), "a..b");
    }
}

} // namespace
} // namespace korvo::mail::postfix::vornctl_commands
