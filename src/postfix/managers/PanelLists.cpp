#include "postfix/managers/PanelLists.h"

#include "mail/panel/PanelQueries.h"

namespace korvo::mail::postfix {

MailnameAliasList mailnamesWithAliasesOf(const std::string& domain) {
    MailnameAliasList list;
    get_mailnames_with_aliases(nullptr, list, domain.c_str());
    return list;
}

} // namespace korvo::mail::postfix
