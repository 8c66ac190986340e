#include "postfix/managers/DomainFilters.h"

namespace korvo::mail::postfix::database {

namespace {

// ASCII only, whatever the locale: domain names reach the tables in their
// ASCII (IDNA) form, and bytes above 127 must compare exactly.
char lowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equalNoCase(const char* a, const char* b, std::string::size_type length) {
    for (std::string::size_type i = 0; i < length; ++i) {
        if (lowerAscii(a[i]) != lowerAscii(b[i])) {
            return false;
        }
    }
    return true;
}

// Length of the part of item before a trailing domain it belongs to, or
// npos when it does not belong.
std::string::size_type domainStart(const std::string& item, const std::string& domain,
                                   bool subdomains) {
    if (item.size() < domain.size()) {
        return std::string::npos;
    }
    const std::string::size_type start = item.size() - domain.size();
    if (!equalNoCase(item.data() + start, domain.data(), domain.size())) {
        return std::string::npos;
    }
    if (start == 0) {
        return 0;
    }
    const char before = item[start - 1];
    return before == '@' || (subdomains && before == '.') ? start : std::string::npos;
}

} // namespace

bool equalNoCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && equalNoCase(a.data(), b.data(), a.size());
}

bool belongsToDomain(const std::string& item, const std::string& domain, bool subdomains) {
    return domainStart(item, domain, subdomains) != std::string::npos;
}

bool ReplaceDomainPart::operator()(std::string& item) const {
    const std::string::size_type start = domainStart(item, from, subdomains);
    if (start != std::string::npos) {
        item.replace(start, std::string::npos, to);
    }
    return true;
}

bool ReplaceDomainPath::operator()(std::string& item) const {
    if (item.compare(0, from.size(), from) == 0 &&
        (item.size() == from.size() || item[from.size()] == '/')) {
        item.replace(0, from.size(), to);
    }
    return true;
}

bool ReplaceLocalPart::operator()(std::string& item) const {
    const std::string::size_type at = from.size();
    if (item.size() <= at || item[at] != '@' || !equalNoCase(item.data(), from.data(), at)) {
        return true;
    }
    const std::string::size_type domainSize = item.size() - at - 1;
    for (const std::string& domain : domains) {
        if (domain.size() == domainSize &&
            equalNoCase(item.data() + at + 1, domain.data(), domainSize)) {
            item.assign(to).append(1, '@').append(domain);
            break;
        }
    }
    return true;
}

} // namespace korvo::mail::postfix::database
