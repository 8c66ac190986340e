#include "front/NameChecks.h"

#include "utils/Idn.h"

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <stdexcept>

namespace korvo::mail::postfix {

namespace mailname_validators {

int mailValidateExc(const std::string& name, validation_type type) {
    const int result = mail_validate(name.c_str(), type);
    if (result == 0)
        throw std::invalid_argument(name);
    return result;
}

} // namespace mailname_validators

namespace vornctl_commands {

namespace {

constexpr std::size_t maxDomainLength = 253;
constexpr std::size_t maxLabelLength = 63;
constexpr std::size_t maxMailNameLength = 64;
constexpr std::size_t maxFileNameLength = 255;

bool isControl(unsigned char c) {
    return c < 0x20 || c == 0x7f;
}

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
// Postfix drops a table record that is not valid UTF-8 without a word.
bool isUtf8(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const unsigned char lead = text[i];
        std::size_t extra = 0;
        unsigned long code = 0;
        unsigned long minimum = 0;
        if (lead < 0x80) {
            ++i;
            continue;
        } else if ((lead & 0xe0) == 0xc0) {
            extra = 1, code = lead & 0x1f, minimum = 0x80;
        } else if ((lead & 0xf0) == 0xe0) {
            extra = 2, code = lead & 0x0f, minimum = 0x800;
        } else if ((lead & 0xf8) == 0xf0) {
            extra = 3, code = lead & 0x07, minimum = 0x10000;
        } else {
            return false;
        }
        if (text.size() - i <= extra)
            return false;
        for (std::size_t k = 1; k <= extra; ++k) {
            const unsigned char next = text[i + k];
            if ((next & 0xc0) != 0x80)
                return false;
            code = (code << 6) | (next & 0x3f);
        }
        if (code < minimum || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff))
            return false;
        i += extra + 1;
    }
    return true;
}

bool isLabelChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_';
}

// A DNS label neither begins nor ends with a hyphen.
bool hasHyphenEdge(const std::string& label) {
    return label.front() == '-' || label.back() == '-';
}

// An ACE label ("xn--...") is only a name when it is what IDNA makes of its
// own decoded form; any other would name nothing a resolver can look up.
bool isUndecodableAce(std::string label) {
    std::transform(label.begin(), label.end(), label.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (label.rfind("xn--", 0) != 0)
        return false;
    try {
        const std::string decoded = korvo::idn::toUtf8(label);
        return decoded == label || korvo::idn::toAscii(decoded) != label;
    } catch (const std::exception&) {
        return true;
    }
}

bool holds(const std::string& name, const char* bytes) {
    return name.find_first_of(bytes) != std::string::npos;
}

bool holdsControl(const std::string& name) {
    return std::any_of(name.begin(), name.end(),
                       [](char c) { return isControl(static_cast<unsigned char>(c)); });
}

// The rules every kind of name shares: "" when none is broken.
std::string commonRule(const std::string& name, std::size_t maxLength) {
    if (name.empty())
        return "is empty";
    if (name.size() > maxLength)
        return "is longer than " + std::to_string(maxLength) + " bytes";
    if (holdsControl(name))
        return "holds a control character";
    if (!isUtf8(name))
        return "is not valid UTF-8";
    return "";
}

void require(const std::string& rule, const std::string& name, const std::string& option) {
    if (rule.empty())
        return;
    const std::string refusal = "'" + name + "' " + rule;
    throw std::invalid_argument(option.empty() ? refusal : option + ": " + refusal);
}

} // namespace

std::string domainNameRule(const std::string& ascii) {
    if (std::string rule = commonRule(ascii, maxDomainLength); !rule.empty())
        return rule;
    std::size_t start = 0;
    while (start <= ascii.size()) {
        const std::size_t end = std::min(ascii.find('.', start), ascii.size());
        const std::string label = ascii.substr(start, end - start);
        if (label.empty())
            return "has an empty label";
        if (label.size() > maxLabelLength)
            return "has a label longer than 63 bytes";
        if (!std::all_of(label.begin(), label.end(), isLabelChar))
            return "holds a character other than letters, digits, '-', '_' and '.'";
        if (hasHyphenEdge(label))
            return "has a label beginning or ending with '-'";
        if (isUndecodableAce(label))
            return "has an 'xn--' label that is no IDNA name";
        start = end + 1;
    }
    return "";
}

std::string mailNameRule(const std::string& name) {
    if (std::string rule = commonRule(name, maxMailNameLength); !rule.empty())
        return rule;
    if (holds(name, " "))
        return "holds a blank";
    if (holds(name, ","))
        return "holds a comma";
    if (holds(name, "/@"))
        return "holds '/' or '@'";
    if (holds(name, "\"'`\\"))
        return "holds a quote, backquote or backslash";
    if (name == "." || name.find("..") != std::string::npos ||
        mail_validate(name.c_str(), MAIL_VALIDATE_MAILNAME) == 0)
        return "holds '..' or is '.'";
    if (name.front() == '#')
        return "begins with '#', which marks a table comment";
    return "";
}

std::string addressRule(const std::string& ascii) {
    const std::size_t at = ascii.find('@');
    if (at == std::string::npos)
        return "has no '@'";
    if (const std::string rule = mailNameRule(ascii.substr(0, at)); !rule.empty())
        return "has a mailname that " + rule;
    if (const std::string rule = domainNameRule(ascii.substr(at + 1)); !rule.empty())
        return "has a domain that " + rule;
    return "";
}

std::string targetAddressRule(const std::string& ascii) {
    if (std::string rule = commonRule(ascii, maxMailNameLength + 1 + maxDomainLength);
        !rule.empty())
        return rule;
    if (holds(ascii, " "))
        return "holds a blank";
    if (holds(ascii, ","))
        return "holds a comma";
    const std::size_t at = ascii.find('@');
    if (at == std::string::npos)
        return "has no '@'";
    if (ascii.find('@', at + 1) != std::string::npos)
        return "holds more than one '@'";
    if (at == 0)
        return "has an empty local part";
    if (at > maxMailNameLength)
        return "has a local part longer than 64 bytes";
    if (const std::string rule = domainNameRule(ascii.substr(at + 1)); !rule.empty())
        return "has a domain that " + rule;
    return "";
}

std::string fileNameRule(const std::string& name) {
    if (std::string rule = commonRule(name, maxFileNameLength); !rule.empty())
        return rule;
    if (name == "." || name == "..")
        return "is '.' or '..'";
    if (holds(name, "/"))
        return "holds '/'";
    return "";
}

std::string removalNameRule(const std::string& name) {
    if (std::string rule = fileNameRule(name); !rule.empty())
        return rule;
    return holds(name, " ") ? "holds a blank" : "";
}

bool isDomainName(const std::string& ascii) {
    return domainNameRule(ascii).empty();
}

bool isMailName(const std::string& name) {
    return mailNameRule(name).empty();
}

bool isAddress(const std::string& ascii) {
    return addressRule(ascii).empty();
}

bool isTargetAddress(const std::string& ascii) {
    return targetAddressRule(ascii).empty();
}

bool isFileName(const std::string& name) {
    return fileNameRule(name).empty();
}

bool isSingleLine(const std::string& text) {
    return !holdsControl(text) && isUtf8(text);
}

void checkDomainName(const std::string& ascii, const std::string& option) {
    require(domainNameRule(ascii), ascii, option);
}

void checkMailName(const std::string& name, const std::string& option) {
    require(mailNameRule(name), name, option);
}

void checkAddress(const std::string& ascii, const std::string& option) {
    require(addressRule(ascii), ascii, option);
}

void checkTargetAddress(const std::string& ascii, const std::string& option) {
    require(targetAddressRule(ascii), ascii, option);
}

void checkFileName(const std::string& name, const std::string& option) {
    require(fileNameRule(name), name, option);
}

void checkRemovalName(const std::string& name, const std::string& option) {
    require(removalNameRule(name), name, option);
}

void checkSingleLine(const std::string& text, const std::string& option) {
    require(holdsControl(text) ? "holds a control character"
                               : (isUtf8(text) ? "" : "is not valid UTF-8"),
            text, option);
}

std::string asciiDomainName(const std::string& given, const std::string& option) {
    std::string ascii = korvo::idn::toAscii(given);
    require(domainNameRule(ascii), given, option);
    return ascii;
}

std::string asciiAddress(const std::string& given, const std::string& option) {
    std::string ascii = korvo::idn::emailToAscii(given);
    require(addressRule(ascii), given, option);
    return ascii;
}

std::string asciiTargetAddress(const std::string& given, const std::string& option) {
    std::string ascii = korvo::idn::emailToAscii(given);
    require(targetAddressRule(ascii), given, option);
    return ascii;
}

} // namespace vornctl_commands

} // namespace korvo::mail::postfix
