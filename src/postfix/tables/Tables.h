// The Postfix lookup tables that vornctl keeps, and the forms of their
// records.
//
// Every table lives under /var/spool/postfix/korvo and is named by its
// Postfix map specification (type, colon, path), which is what postmap and
// main.cf expect. The managers build every key and value through the helpers
// below, so that a table name or a record form is spelled in this one place.
// d is a mail domain, m a mailname, n a local part, all in ASCII form.
// Pure text; nothing here fails.
#ifndef KORVO_POSTFIX_TABLES_H
#define KORVO_POSTFIX_TABLES_H

#include <string>

namespace korvo::mail::postfix::tables {

// Served domains: key d, value domainRecordValue(d). Enabled domains only.
inline constexpr char VIRTUAL_DOMAINS[] = "hash:/var/spool/postfix/korvo/virtual_domains";
// Mailboxes: key address(m, d), value mailboxPath(d, m).
inline constexpr char VMAILBOX[] = "hash:/var/spool/postfix/korvo/vmailbox";
// Address rewriting: standard addresses, mailboxes mapped to themselves,
// mail aliases, catch-all and bounce keys, domain alias markers. Values may
// be lists of addresses.
inline constexpr char VIRTUAL[] = "hash:/var/spool/postfix/korvo/virtual";
// Local aliases: key bounceAliasName(d), value the domain's bounce program.
inline constexpr char ALIASES[] = "hash:/var/spool/postfix/korvo/aliases";
// Black-listed sender domains: key d, value BLACKLIST_ACTION.
inline constexpr char BLACKLISTS[] = "hash:/var/spool/postfix/korvo/blacklists";
// Named in main.cf only; vornctl never writes these two.
inline constexpr char POPLOCK[] = "hash:/var/spool/postfix/korvo/poplock";
inline constexpr char NO_RELAY[] = "pcre:/var/spool/postfix/korvo/no_relay.re";

// Local parts every domain answers, in the order they are written.
inline constexpr const char* STANDARD_ADDRESS_NAMES[] = {"postmaster", "mailer-daemon", "root",
                                                         "anonymous",  "drweb",         "kluser"};

inline constexpr char LOCAL_DOMAIN_SUFFIX[] = "@localhost.localdomain";
inline constexpr char BOUNCE_PREFIX[] = "_korvo_bounce_";
// Value of the virtual record whose key is a domain alias.
inline constexpr char DOMAIN_ALIAS_MARKER[] = "1";
inline constexpr char BLACKLIST_ACTION[] = "REJECT";

inline std::string address(const std::string& localPart, const std::string& domain) {
    return localPart + "@" + domain;
}

inline std::string domainRecordValue(const std::string& domain) {
    return domain + "/";
}

// Mailbox path relative to the root of mail homes, with its trailing slash.
inline std::string mailboxPath(const std::string& domain, const std::string& mailname) {
    return domain + "/" + mailname + "/Maildir/";
}

// Value of the standard address record of local part n on any domain.
inline std::string localAddress(const std::string& localPart) {
    return localPart + LOCAL_DOMAIN_SUFFIX;
}

// Key of the catch-all and of the bounce record of a domain.
inline std::string catchAllKey(const std::string& domain) {
    return "@" + domain;
}

// Key of the domain's bounce program in the aliases table.
inline std::string bounceAliasName(const std::string& domain) {
    return BOUNCE_PREFIX + domain;
}

// Value of the domain's catch-all key when unknown addresses bounce.
inline std::string bounceAddress(const std::string& domain) {
    return localAddress(bounceAliasName(domain));
}

// The file a table is built from: everything after the first colon of its
// name, or the whole name when it has none.
inline std::string sourcePath(const std::string& table) {
    const std::string::size_type colon = table.find(':');
    return colon == std::string::npos ? table : table.substr(colon + 1);
}

} // namespace korvo::mail::postfix::tables

#endif
