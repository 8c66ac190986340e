// Element filters of the domain and mailname managers, for whole-table
// rewrites through DatabaseHelper::filterRecords (ElementFilters.h composes
// them into record filters).
//
// postmap folds the keys of hash tables to lower case while the commands
// pass names in whatever case they were given, so every comparison of a
// domain name or an address here ignores ASCII letter case: removing or
// renaming "Info@Example.com" finds the key "info@example.com" and the list
// element "INFO@example.com" alike. Mailbox paths are file names and are
// compared byte for byte.
//
//   NotInDomainFilter   drops an item that belongs to a domain;
//   ReplaceDomainPart   moves an item that belongs to a domain to another;
//   ReplaceDomainPath   moves a mailbox path from one domain root to another;
//   ReplaceAddress      replaces one exact name or address by another;
//   ReplaceLocalPart    renames one local part on any of a list of domains.
//
// An item belongs to domain D when it is D, or ends in "@" + D (an address
// or the catch-all key of D), or, with subdomains, ends in "." + D.
//
// The Part, Path and LocalPart filters hold references: the strings must outlive the
// rewrite. Nothing here throws except on allocation failure.
#ifndef KORVO_POSTFIX_DOMAINFILTERS_H
#define KORVO_POSTFIX_DOMAINFILTERS_H

#include <string>
#include <vector>

namespace korvo::mail::postfix::database {

// ASCII letter case ignored; other bytes compared as they are.
bool equalNoCase(const std::string& a, const std::string& b);

bool belongsToDomain(const std::string& item, const std::string& domain, bool subdomains);

class NotInDomainFilter {
public:
    NotInDomainFilter(const std::string& domain, bool subdomains)
        : domain(domain), subdomains(subdomains) {}

    bool operator()(const std::string& item) const {
        return !belongsToDomain(item, domain, subdomains);
    }

private:
    std::string domain;
    bool subdomains;
};

// The item from becomes to; an address of from (or, with subdomains, a
// subdomain of it) keeps its local part and gets to as its domain part.
// Every item is kept.
class ReplaceDomainPart {
public:
    ReplaceDomainPart(const std::string& from, const std::string& to, bool subdomains)
        : from(from), to(to), subdomains(subdomains) {}

    bool operator()(std::string& item) const;

private:
    const std::string& from;
    const std::string& to;
    bool subdomains;
};

// A path that is from or lies below it ("from/...") gets to in place of
// from. A path merely beginning with the same bytes, such as a sibling
// domain root "from.other/...", is left alone. Every item is kept.
class ReplaceDomainPath {
public:
    ReplaceDomainPath(const std::string& from, const std::string& to) : from(from), to(to) {}

    bool operator()(std::string& item) const;

private:
    const std::string& from;
    const std::string& to;
};

// An item equal to from, letter case aside, becomes to. Every item is kept.
class ReplaceAddress {
public:
    ReplaceAddress(const std::string& from, const std::string& to) : from(from), to(to) {}

    bool operator()(std::string& item) const {
        if (equalNoCase(item, from)) {
            item = to;
        }
        return true;
    }

private:
    const std::string& from;
    const std::string& to;
};

// An address whose local part is from and whose domain part is one of
// domains, letter case aside, becomes to@domain, the domain spelled as in
// the list: ReplaceAddress for from@d to to@d for every d at once. Every
// item is kept.
class ReplaceLocalPart {
public:
    ReplaceLocalPart(const std::string& from, const std::string& to,
                     const std::vector<std::string>& domains)
        : from(from), to(to), domains(domains) {}

    bool operator()(std::string& item) const;

private:
    const std::string& from;
    const std::string& to;
    const std::vector<std::string>& domains;
};

} // namespace korvo::mail::postfix::database

#endif
