// The name checks: accepted and refused names per kind, refusals naming the text.
#include "front/NameChecks.h"

#include <gtest/gtest.h>
#include <stdexcept>
#include <string>
#include <vector>

namespace korvo::mail::postfix::vornctl_commands {
namespace {

std::string label(std::size_t n) {
    return std::string(n, 'a');
}

// Labels of 63 bytes and one last label so that the whole is `total` bytes.
std::string domainOfLength(std::size_t total) {
    std::string name;
    while (total - name.size() > 64)
        name += label(63) + ".";
    return name + label(total - name.size());
}

// A refusal names the option, the text and a rule.
template <class Check> void expectRefused(Check check, const std::string& name) {
    try {
        check(name, "--option");
        ADD_FAILURE() << "accepted [" << name << "]";
    } catch (const std::invalid_argument& e) {
        const std::string named = "--option: '" + name + "' ";
        EXPECT_EQ(std::string(e.what()).rfind(named, 0), 0u) << e.what();
        EXPECT_GT(std::string(e.what()).size(), named.size()) << e.what();
    }
}

using Check = void (*)(const std::string&, const std::string&);

void expectTable(bool (*predicate)(const std::string&), Check check,
                 const std::vector<std::string>& accepted,
                 const std::vector<std::string>& refused) {
    for (const std::string& name : accepted) {
        EXPECT_TRUE(predicate(name)) << "[" << name << "]";
        EXPECT_NO_THROW(check(name, "")) << "[" << name << "]";
    }
    for (const std::string& name : refused) {
        EXPECT_FALSE(predicate(name)) << "[" << name << "]";
        expectRefused(check, name);
    }
}

TEST(NameChecksTest, DomainNames) {
    expectTable(
        isDomainName, checkDomainName,
        {"Example.COM", "mail-1.sub_domain.example.org", label(63) + ".com", domainOfLength(253)},
        {label(64) + ".com", domainOfLength(254), "", ".", "../../etc", ".example.com",
         "example.com.", "example..com", "exa mple.com", "example.com\n", "user@example.com",
         "b\xfc"
         "cher.example"});
}

TEST(NameChecksTest, MailNames) {
    expectTable(isMailName, checkMailName,
                {"John.Smith", "first+tag", "a_b-c", label(64), "\xd0\xb8\xd0\xbd\xd1\x84"},
                {label(65), "", "..", "a..b", "a/b", "a@b", "a,b", "a b", "a\nb", "a\x7f", "o'neil",
                 "\xff\xfe", "\xc0\xaf" /* overlong "/" */, "\xed\xa0\x80" /* surrogate */,
                 "\xe2\x82" /* cut short */, "#team" /* a table comment */});
}

// Where mail is sent on: any one valid address, whatever its local part
// holds, within the lengths a table record takes.
TEST(NameChecksTest, TargetAddresses) {
    expectTable(isTargetAddress, checkTargetAddress,
                {"o'brien@other.org", "first/last@example.org", "a+b@example.org",
                 "\"quoted\"@example.org", "#x@example.org", label(64) + "@" + domainOfLength(253)},
                {"a b@x.org", "a,b@x.org", "a@b@x.org", "@x.org", "a@", "ax.org", "a\tb@x.org",
                 "a\n@x.org", label(65) + "@x.org", "a@-x.org", "a@x..org",
                 "a@" + domainOfLength(254), "\xff@x.org"});
}

TEST(NameChecksTest, AddressesFileNamesAndSingleLines) {
    expectTable(isAddress, checkAddress,
                {"info@example.com", label(64) + "@" + domainOfLength(253)},
                {label(65) + "@example.com", "info@" + domainOfLength(254), "info", "@example.com",
                 "info@example.com\n|/bin/sh", "info@ex@ample.com", "../x@example.com"});
    expectTable(isFileName, checkFileName,
                {"John's report (final).pdf", ".hidden", "a..b", label(255),
                 "\xc3\xbc"
                 "ber.txt"},
                {label(256), "", ".", "..", "../../etc/passwd", "a\nb", "a\x7f", "\xff.txt"});
    expectTable(isSingleLine, checkSingleLine,
                {"", "v=spf1 include:_spf.example.com ~all", "/usr/local/bin/filter --mode=strict"},
                {"two\nlines", "cr\r", "tab\there", "\xfe"});
}

// The converting forms let internationalised domains through in their ASCII
// form; what libidn lets through that the check refuses is refused end to
// end by the hostile-input test.
TEST(NameChecksTest, ConversionThenCheck) {
    EXPECT_EQ(asciiAddress("info@b\xc3\xbc"
                           "cher.example"),
              "info@xn--bcher-kva.example");
    EXPECT_EQ(asciiAddress("\xd0\xb8\xd0\xbd\xd1\x84\xd0\xbe@example.com"),
              "\xd0\xb8\xd0\xbd\xd1\x84\xd0\xbe@example.com"); // local part stays UTF-8
}

} // namespace
} // namespace korvo::mail::postfix::vornctl_commands
