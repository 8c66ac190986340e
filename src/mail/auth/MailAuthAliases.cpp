#include "mail/auth/MailAuthAliases.h"

#include "mail/PanelQueries.h"
#include "mail/auth/MailAuth.h"
#include "utils/Logging.h"

#include <cstdlib>
#include <memory>

using korvo::mail::StringListOwner;

namespace {

// Runs change(name, isAlias) on domain, then on each of its domain aliases,
// stopping at the first failure (change logs its own). 1 when there were
// aliases, 0 when there were none, -1 on failure.
template <typename Change>
int overDomainAndAliases(const char* domain, const char* aliasesFailure, Change change) {
    if (!change(domain, false))
        return -1;
    StringListOwner aliases;
    if (get_domaliases_by_domain(nullptr, aliases.out(), domain) != 0) {
        korvo_log(3, aliasesFailure, domain);
        return -1;
    }
    for (const char* alias : aliases)
        if (!change(alias, true))
            return -1;
    return aliases.empty() ? 0 : 1;
}

} // namespace

int set_passwd_for_domains(const char* mailname, const char* domain, const char* password,
                           int flags) {
    return overDomainAndAliases(
        domain, "Unable to get domain aliases for domain %s", [&](const char* name, bool) {
            if (set_postbox_passwd(mailname, name, password, flags) == 0)
                return true;
            korvo_log(3, "Unable to set password for mailname %s@%s", mailname, name);
            return false;
        });
}

int set_mass_postbox_passwd(const char* mailname, const char* domain, const char* password,
                            int flags) {
    if (set_passwd_for_domains(mailname, domain, password, flags) == -1)
        return -1;
    StringListOwner mailAliases;
    if (get_aliases_by_mailname(nullptr, mailAliases.out(), mailname, domain) != 0)
        return -1;
    for (const char* mailAlias : mailAliases)
        if (set_passwd_for_domains(mailAlias, domain, password, flags) == -1)
            return -1;
    return mailAliases.empty() ? 0 : 1;
}

int rm_mname_from_domains(const char* mailname, const char* domain) {
    return overDomainAndAliases(domain, "Unable to get domain aliases for domain %s",
                                [mailname](const char* name, bool) {
                                    if (mailAuthRemove(mailname, name) == 0)
                                        return true;
                                    korvo_log(3, "Unable to remove mailname %s@%s", mailname, name);
                                    return false;
                                });
}

int rm_mails_from_domains(const char* mailname, const char* domain) {
    if (mailAuthRemove(mailname, domain) != 0) {
        korvo_log(3, "Unable to remove mailname %s@%s", mailname, domain);
        return -1;
    }
    if (rm_mname_from_domains(mailname, domain) == -1) {
        korvo_log(3, "Unable to remove mailname from domain aliases");
        return -1;
    }
    StringListOwner mailAliases;
    if (get_aliases_by_mailname(nullptr, mailAliases.out(), mailname, domain) != 0) {
        korvo_log(3, "Unable to get mail aliases for mailname %s%s", mailname, domain);
        return -1;
    }
    for (const char* mailAlias : mailAliases) {
        if (rm_mname_from_domains(mailAlias, domain) == -1) {
            korvo_log(3, "Unable to remove mailname from domain aliases");
            return -1;
        }
    }
    return mailAliases.empty() ? 0 : 1;
}

int domain_auth_action(const char* domain, int (*action)(const char*), const char* actionName) {
    return overDomainAndAliases(
        domain, "Unable to get aliases for domain %s", [&](const char* name, bool isAlias) {
            if (action(name) == 0)
                return true;
            korvo_log(3,
                      isAlias ? "Unable to %s for domain alias %s" : "Unable to %s for domain %s",
                      actionName, name);
            return false;
        });
}

int add_domain_auth_alias(const char* domain, const char* alias) {
    StringListOwner mailnames;
    if (get_mailnames_by_domain(nullptr, mailnames.out(), domain) != 0) {
        korvo_log(3, "Unable to get mailnames from domain %s", domain);
        return -1;
    }
    for (const char* mailname : mailnames) {
        StringListOwner mailAliases;
        if (get_aliases_by_mailname(nullptr, mailAliases.out(), mailname, domain) != 0) {
            korvo_log(3, "Unable to get mail aliases for %s@%s", mailname, domain);
            return -1;
        }
        for (const char* mailAlias : mailAliases) {
            if (mailAuthClone(mailAlias, domain, mailAlias, alias) != 0) {
                korvo_log(3, "Unable to clone auth record for %s@%s", mailAlias, alias);
                return -1;
            }
        }
        if (mailAuthClone(mailname, domain, mailname, alias) != 0) {
            korvo_log(3, "Unable to clone auth record for %s@%s", mailname, alias);
            return -1;
        }
    }
    return mailnames.empty() ? 0 : 1;
}

int rm_domain_auth_alias(const char* alias) {
    if (mailAuthRemoveDomain(alias) != 0) {
        korvo_log(3, "Unable to remove domain %s from auth database", alias);
        return -1;
    }
    char* found = nullptr;
    if (get_domain_by_domainalias(nullptr, &found, alias) != 0) {
        korvo_log(3, "Unable to get domain by domain alias %s", alias);
        return -1;
    }
    const std::unique_ptr<char, decltype(&std::free)> domain(found, &std::free);
    if (!domain)
        return 0;
    StringListOwner mailnames;
    if (get_mailnames_by_domain(nullptr, mailnames.out(), domain.get()) != 0) {
        korvo_log(3, "Unable to get mailnames from domain %s", domain.get());
        return -1;
    }
    for (const char* mailname : mailnames) {
        StringListOwner mailAliases;
        if (get_aliases_by_mailname(nullptr, mailAliases.out(), mailname, domain.get()) != 0) {
            korvo_log(3, "Unable to get aliases for mailname %s@%s", mailname, domain.get());
            return -1;
        }
        for (const char* mailAlias : mailAliases) {
            if (mailAuthRemove(mailAlias, alias) != 0) {
                korvo_log(3, "Unable to remove mail alias %s@%s", mailAlias, alias);
                return -1;
            }
        }
    }
    return 0;
}
