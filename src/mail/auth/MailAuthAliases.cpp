#include "mail/auth/MailAuthAliases.h"

#include "mail/auth/MailAuth.h"
#include "mail/panel/PanelQueries.h"
#include "utils/Logging.h"
#include "utils/MallocOwners.h"

#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

using korvo::StringListOwner;
using korvo::mail::MailnameAliases;
using korvo::mail::MailnameAliasList;

namespace {

// The domain aliases of a domain, read from the panel at the first need
// and kept, so that an operation over a mailname and all its mail aliases
// reads them once.
class DomainAliases {
public:
    DomainAliases(const char* domain, const char* failure) : domain_(domain), failure_(failure) {}

    // The list; null after logging the failure.
    const std::vector<std::string>* get() {
        if (!read_) {
            std::optional<std::vector<std::string>> list = korvo::mail::domainAliasesOf(domain_);
            if (!list) {
                korvo_log(LOG_LEVEL_ERROR, failure_, domain_);
                return nullptr;
            }
            list_ = std::move(*list);
            read_ = true;
        }
        return &list_;
    }

private:
    const char* const domain_;
    const char* const failure_;
    bool read_ = false;
    std::vector<std::string> list_;
};

// Runs change(name, isAlias) on domain, then on each of its domain aliases,
// stopping at the first failure (change logs its own). 1 when there were
// aliases, 0 when there were none, -1 on failure.
template <typename Change>
int overDomainAndAliases(const char* domain, DomainAliases& domainAliases, Change change) {
    if (!change(domain, false))
        return -1;
    const std::vector<std::string>* const aliases = domainAliases.get();
    if (aliases == nullptr)
        return -1;
    for (const std::string& alias : *aliases)
        if (!change(alias.c_str(), true))
            return -1;
    return aliases->empty() ? 0 : 1;
}

template <typename Change>
int overDomainAndAliases(const char* domain, const char* aliasesFailure, Change change) {
    DomainAliases aliases(domain, aliasesFailure);
    return overDomainAndAliases(domain, aliases, change);
}

const char domainAliasesFailure[] = "Unable to get domain aliases for domain %s";

// The domain first, on its own (its own address keeps working when the
// aliases cannot be read), then all its aliases in one transaction.
int setPasswdOnDomains(const char* mailname, const char* domain, DomainAliases& domainAliases,
                       const char* password, int flags) {
    if (set_postbox_passwd(mailname, domain, password, flags) != 0) {
        return korvo_error("Unable to set password for mailname %s@%s", mailname, domain);
    }
    const std::vector<std::string>* const aliases = domainAliases.get();
    if (aliases == nullptr || mailAuthSetIn({mailname}, *aliases, password, flags) != 0)
        return -1;
    return aliases->empty() ? 0 : 1;
}

// The domain followed by its aliases (already read).
std::vector<std::string> withAliases(const char* domain, DomainAliases& domainAliases) {
    std::vector<std::string> domains{domain};
    const std::vector<std::string>* const aliases = domainAliases.get();
    domains.insert(domains.end(), aliases->begin(), aliases->end());
    return domains;
}

// Links the aliases' rows to the domain's, for the rows the password set
// just registered; result unless the linking failed (-1).
int linkedAfter(int result, const char* domain, DomainAliases& domainAliases) {
    if (result == -1)
        return -1;
    const std::vector<std::string>* const aliases = domainAliases.get();
    if (aliases == nullptr || mailAuthLinkAliases(domain, *aliases) != 0)
        return -1;
    return result;
}

// The mailname leaves all the domain's aliases in one transaction.
int removeFromAliases(const char* mailname, DomainAliases& domainAliases) {
    const std::vector<std::string>* const aliases = domainAliases.get();
    if (aliases == nullptr || mailAuthRemoveFrom({mailname}, *aliases) != 0)
        return -1;
    return aliases->empty() ? 0 : 1;
}

// The domain first, then all its aliases.
int removeFromDomains(const char* mailname, const char* domain, DomainAliases& domainAliases) {
    if (mailAuthRemove(mailname, domain) != 0) {
        return korvo_error("Unable to remove mailname %s@%s", mailname, domain);
    }
    return removeFromAliases(mailname, domainAliases);
}

// The mailnames of domain with their mail aliases; false after a message.
bool readMailnames(MailnameAliasList& mailnames, const char* domain) {
    if (get_mailnames_with_aliases(nullptr, mailnames, domain) == 0)
        return true;
    korvo_log(LOG_LEVEL_ERROR, "Unable to get mailnames from domain %s", domain);
    return false;
}

} // namespace

int set_passwd_for_domains(const char* mailname, const char* domain, const char* password,
                           int flags) {
    DomainAliases aliases(domain, domainAliasesFailure);
    return linkedAfter(setPasswdOnDomains(mailname, domain, aliases, password, flags), domain,
                       aliases);
}

int set_mass_postbox_passwd(const char* mailname, const char* domain, const char* password,
                            int flags) {
    DomainAliases aliases(domain, domainAliasesFailure);
    if (setPasswdOnDomains(mailname, domain, aliases, password, flags) == -1)
        return -1;
    StringListOwner mailAliases;
    if (get_aliases_by_mailname(nullptr, mailAliases.out(), mailname, domain) != 0)
        return -1;
    const std::vector<std::string> names(mailAliases.begin(), mailAliases.end());
    if (mailAuthSetIn(names, withAliases(domain, aliases), password, flags) != 0)
        return -1;
    return linkedAfter(mailAliases.empty() ? 0 : 1, domain, aliases);
}

int rm_mname_from_domains(const char* mailname, const char* domain) {
    DomainAliases aliases(domain, domainAliasesFailure);
    return removeFromDomains(mailname, domain, aliases);
}

int rm_mails_from_domains(const char* mailname, const char* domain) {
    if (mailAuthRemove(mailname, domain) != 0) {
        return korvo_error("Unable to remove mailname %s@%s", mailname, domain);
    }
    DomainAliases aliases(domain, domainAliasesFailure);
    if (removeFromAliases(mailname, aliases) == -1) {
        return korvo_error("Unable to remove mailname from domain aliases");
    }
    StringListOwner mailAliases;
    if (get_aliases_by_mailname(nullptr, mailAliases.out(), mailname, domain) != 0) {
        return korvo_error("Unable to get mail aliases for mailname %s%s", mailname, domain);
    }
    const std::vector<std::string> names(mailAliases.begin(), mailAliases.end());
    if (mailAuthRemoveFrom(names, withAliases(domain, aliases)) != 0) {
        return korvo_error("Unable to remove mailname from domain aliases");
    }
    return mailAliases.empty() ? 0 : 1;
}

namespace {

// The one-transaction form of the actions the domain commands pass.
std::optional<DomainChange> batchedForm(int (*action)(const char*)) {
    if (action == mailAuthEnableDomain)
        return DomainChange::Enable;
    if (action == mailAuthDisableDomain)
        return DomainChange::Disable;
    if (action == mailAuthRemoveDomain)
        return DomainChange::Remove;
    return std::nullopt;
}

} // namespace

int domain_auth_action(const char* domain, int (*action)(const char*), const char* actionName) {
    const std::optional<DomainChange> change = batchedForm(action);
    if (!change) {
        return overDomainAndAliases(domain, "Unable to get aliases for domain %s",
                                    [&](const char* name, bool isAlias) {
                                        if (action(name) == 0)
                                            return true;
                                        korvo_log(LOG_LEVEL_ERROR,
                                                  isAlias ? "Unable to %s for domain alias %s"
                                                          : "Unable to %s for domain %s",
                                                  actionName, name);
                                        return false;
                                    });
    }
    // The domain on its own first, as an action of its own would be; then
    // all its aliases in one transaction.
    std::size_t failedAt = 0;
    if (mailAuthChangeDomains({domain}, *change, failedAt) != 0) {
        return korvo_error("Unable to %s for domain %s", actionName, domain);
    }
    DomainAliases domainAliases(domain, "Unable to get aliases for domain %s");
    const std::vector<std::string>* const aliases = domainAliases.get();
    if (aliases == nullptr)
        return -1;
    if (mailAuthChangeDomains(*aliases, *change, failedAt) != 0) {
        return korvo_error("Unable to %s for domain alias %s", actionName,
                           (*aliases)[failedAt].c_str());
    }
    return aliases->empty() ? 0 : 1;
}

int add_domain_auth_alias(const char* domain, const char* alias) {
    MailnameAliasList mailnames;
    if (!readMailnames(mailnames, domain))
        return -1;
    return add_domain_auth_alias(domain, alias, mailnames);
}

int add_domain_auth_alias(const char* domain, const char* alias,
                          const MailnameAliasList& mailnames) {
    std::vector<std::string> names;
    for (const MailnameAliases& entry : mailnames) {
        names.insert(names.end(), entry.aliases.begin(), entry.aliases.end());
        names.push_back(entry.mailname);
    }
    if (mailAuthCloneUsers(names, domain, alias) != 0 || mailAuthLinkAliases(domain, {alias}) != 0)
        return -1;
    return mailnames.empty() ? 0 : 1;
}

int rm_domain_auth_alias(const char* alias) {
    if (mailAuthRemoveDomain(alias) != 0) {
        return korvo_error("Unable to remove domain %s from auth database", alias);
    }
    char* found = nullptr;
    if (get_domain_by_domainalias(nullptr, &found, alias) != 0) {
        return korvo_error("Unable to get domain by domain alias %s", alias);
    }
    const korvo::MallocString domain(found);
    if (!domain)
        return 0;
    MailnameAliasList mailnames;
    if (!readMailnames(mailnames, domain.get()))
        return -1;
    std::vector<std::string> mailAliases;
    for (const MailnameAliases& entry : mailnames)
        mailAliases.insert(mailAliases.end(), entry.aliases.begin(), entry.aliases.end());
    return mailAuthRemoveFrom(mailAliases, {alias}, "Unable to remove mail alias %s@%s") != 0 ? -1
                                                                                              : 0;
}
