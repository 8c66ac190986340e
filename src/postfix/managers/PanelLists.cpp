#include "postfix/managers/PanelLists.h"

#include "mail/PanelQueries.h"

namespace korvo::mail::postfix {

namespace {

// The list a query filled; empty when it failed (the query logged why).
template <class Query> std::vector<std::string> listOf(Query query) {
    StringListOwner list;
    if (query(list.out()) != 0) {
        return {};
    }
    return std::vector<std::string>(list.begin(), list.end());
}

} // namespace

std::vector<std::string> domainAliasesOf(const std::string& domain) {
    return listOf(
        [&](char*** list) { return get_domaliases_by_domain(nullptr, list, domain.c_str()); });
}

MailnameAliasList mailnamesWithAliasesOf(const std::string& domain) {
    MailnameAliasList list;
    get_mailnames_with_aliases(nullptr, list, domain.c_str());
    return list;
}

} // namespace korvo::mail::postfix
