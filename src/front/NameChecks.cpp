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

// The local part of an address is held to the mailname rules; "@" can only
// be refused there, since an address splits at its first "@".
// A comma would split a table value or a list argument into two addresses.
bool isMailNameByte(unsigned char c) {
    return c > 0x20 && c != 0x7f && c != '/' && c != '@' && c != '"' && c != '\'' && c != '`' &&
           c != '\\' && c != ',';
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

void require(bool accepted, const std::string& name) {
    if (!accepted)
        throw std::invalid_argument(name);
}

} // namespace

bool isDomainName(const std::string& ascii) {
    if (ascii.empty() || ascii.size() > maxDomainLength)
        return false;
    std::size_t start = 0;
    while (start <= ascii.size()) {
        const std::size_t end = std::min(ascii.find('.', start), ascii.size());
        const std::string label = ascii.substr(start, end - start);
        if (label.empty() || label.size() > maxLabelLength ||
            !std::all_of(label.begin(), label.end(), isLabelChar) || hasHyphenEdge(label) ||
            isUndecodableAce(label))
            return false;
        start = end + 1;
    }
    return true;
}

bool isMailName(const std::string& name) {
    if (name.empty() || name.size() > maxMailNameLength || name.find("..") != std::string::npos)
        return false;
    for (const char c : name)
        if (!isMailNameByte(static_cast<unsigned char>(c)))
            return false;
    return name != "." && isUtf8(name) && mail_validate(name.c_str(), MAIL_VALIDATE_MAILNAME) != 0;
}

bool isAddress(const std::string& ascii) {
    const std::size_t at = ascii.find('@');
    return at != std::string::npos && isMailName(ascii.substr(0, at)) &&
           isDomainName(ascii.substr(at + 1));
}

bool isFileName(const std::string& name) {
    if (name.empty() || name.size() > maxFileNameLength || name == "." || name == "..")
        return false;
    for (const char c : name)
        if (c == '/' || isControl(static_cast<unsigned char>(c)))
            return false;
    return isUtf8(name);
}

bool isSingleLine(const std::string& text) {
    for (const char c : text)
        if (isControl(static_cast<unsigned char>(c)))
            return false;
    return isUtf8(text);
}

void checkDomainName(const std::string& ascii) {
    require(isDomainName(ascii), ascii);
}

void checkMailName(const std::string& name) {
    require(isMailName(name), name);
}

void checkAddress(const std::string& ascii) {
    require(isAddress(ascii), ascii);
}

void checkFileName(const std::string& name) {
    require(isFileName(name), name);
}

void checkSingleLine(const std::string& text) {
    require(isSingleLine(text), text);
}

std::string asciiDomainName(const std::string& given) {
    std::string ascii = korvo::idn::toAscii(given);
    require(isDomainName(ascii), given);
    return ascii;
}

std::string asciiAddress(const std::string& given) {
    std::string ascii = korvo::idn::emailToAscii(given);
    require(isAddress(ascii), given);
    return ascii;
}

} // namespace vornctl_commands

} // namespace korvo::mail::postfix
