#include "utils/QuotedAddress.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace korvo {
namespace {

// RFC 5322 atext.
bool isAtext(unsigned char c) {
    return std::isalnum(c) || c >= 0x80 || std::strchr("!#$%&'*+-/=?^_`{|}~", c) != nullptr;
}

bool isDotAtom(const std::string& text) {
    if (text.empty() || text.front() == '.' || text.back() == '.' ||
        text.find("..") != std::string::npos)
        return false;
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return c == '.' || isAtext(static_cast<unsigned char>(c)); });
}

} // namespace

std::string quotedAddress(const std::string& address) {
    const std::string::size_type at = address.rfind('@');
    const std::string local = address.substr(0, at);
    if (address.empty() || isDotAtom(local))
        return address;
    std::string quoted = "\"";
    for (const char c : local) {
        if (c == '"' || c == '\\')
            quoted += '\\';
        quoted += c;
    }
    return quoted + "\"" + (at == std::string::npos ? "" : address.substr(at));
}

} // namespace korvo
