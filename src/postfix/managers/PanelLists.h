// What the managers read from the panel database, as vectors of names.
//
// The panel queries hand back null-terminated string lists; these wrappers
// copy them into vectors and free them. A failed lookup is not an error
// for the managers: it was already logged by the query, and the operation
// goes on as if the list were empty (a domain without aliases, a domain
// without mailnames). Each call uses the run's SharedConnection when there
// is one, else opens and closes its own.
#ifndef KORVO_POSTFIX_PANELLISTS_H
#define KORVO_POSTFIX_PANELLISTS_H

#include "mail/MailnameAliases.h"

#include <string>
#include <vector>

namespace korvo::mail::postfix {

// The domain aliases of domain, in the order the panel returns them.
std::vector<std::string> domainAliasesOf(const std::string& domain);
// The mailnames of domain with their mail aliases, in one query.
MailnameAliasList mailnamesWithAliasesOf(const std::string& domain);

} // namespace korvo::mail::postfix

#endif
