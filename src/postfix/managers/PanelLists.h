// The mailnames of a domain with their mail aliases, as the managers read
// them from the panel database (the domain aliases come from
// korvo::mail::domainAliasesOf). A failed lookup is not an error for the
// managers: it was already logged by the query, and the operation goes on
// as if the domain had no mailnames. The call uses the run's
// SharedConnection when there is one, else opens and closes its own.
#ifndef KORVO_POSTFIX_PANELLISTS_H
#define KORVO_POSTFIX_PANELLISTS_H

#include "mail/panel/MailnameAliases.h"

#include <string>
#include <vector>

namespace korvo::mail::postfix {

// The mailnames of domain with their mail aliases, in one query.
MailnameAliasList mailnamesWithAliasesOf(const std::string& domain);

} // namespace korvo::mail::postfix

#endif
