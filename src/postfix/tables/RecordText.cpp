#include "postfix/tables/RecordText.h"

#include <stdexcept>

namespace korvo::mail::postfix {

namespace {

// postmap splits a record line at the first of these and trims them off
// the value.
const char whiteSpace[] = " \t\r\n\v\f";

bool isContinuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

// Length of the sequence starting at text[at] and the lowest code point it
// may encode (shorter forms of a smaller one are overlong); 0 for a byte
// that cannot start a sequence.
std::size_t sequenceLength(unsigned char lead, char32_t& least) {
    if (lead < 0x80) {
        least = 0;
        return 1;
    }
    if ((lead & 0xE0) == 0xC0) {
        least = 0x80;
        return 2;
    }
    if ((lead & 0xF0) == 0xE0) {
        least = 0x800;
        return 3;
    }
    if ((lead & 0xF8) == 0xF0) {
        least = 0x10000;
        return 4;
    }
    return 0;
}

[[noreturn]] void refuse(const char* what, const std::string& text) {
    throw std::invalid_argument(std::string("lookup table ") + what + " '" + text +
                                "' cannot be stored");
}

} // namespace

bool isValidUtf8(const std::string& text) {
    std::size_t at = 0;
    while (at < text.size()) {
        const unsigned char lead = static_cast<unsigned char>(text[at]);
        char32_t least = 0;
        const std::size_t length = sequenceLength(lead, least);
        if (length == 0 || at + length > text.size())
            return false;
        char32_t code = length == 1 ? lead : lead & (0x7F >> length);
        for (std::size_t i = 1; i < length; ++i) {
            const unsigned char next = static_cast<unsigned char>(text[at + i]);
            if (!isContinuation(next))
                return false;
            code = (code << 6) | (next & 0x3F);
        }
        if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return false;
        at += length;
    }
    return true;
}

void requireRepresentableKey(const std::string& key) {
    if (key.empty() || key[0] == '#' || key.find_first_of(whiteSpace) != std::string::npos ||
        !isValidUtf8(key))
        refuse("key", key);
}

void requireRepresentableValue(const std::string& value) {
    if (value.find_first_not_of(whiteSpace) == std::string::npos ||
        value.find('\n') != std::string::npos || !isValidUtf8(value))
        refuse("value", value);
}

} // namespace korvo::mail::postfix
