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

std::vector<std::string> mailnamesOf(const std::string& domain) {
    return listOf(
        [&](char*** list) { return get_mailnames_by_domain(nullptr, list, domain.c_str()); });
}

std::vector<std::string> mailAliasesOf(const std::string& mailname, const std::string& domain) {
    return listOf([&](char*** list) {
        return get_aliases_by_mailname(nullptr, list, mailname.c_str(), domain.c_str());
    });
}

} // namespace korvo::mail::postfix
