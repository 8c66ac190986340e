// Domain alias and DomainKey commands: create, remove and rename a domain
// alias, choose what happens to mail for mailnames the alias does not have,
// and install or remove a domain's DomainKey.
//
// Each handler converts and checks every domain and alias name (and the
// catch-all address of --set-catchall) before anything else, then calls
// the domain manager, the handler registry, the DomainKeys files and the
// authentication database in a fixed order. Exit statuses: 0; 1 when an
// authentication database or DomainKey step fails (after what it logged;
// later steps are skipped, earlier ones stay done), or when a domain alias
// command names none of --set-bounce, --set-catchall, --set-reject (the
// alias is created or renamed all the same). Handler registry and key copy
// failures write a "WARNING: " line and leave the status. Manager failures
// reach main ("Fatal error", status 1).
#ifndef KORVO_FRONT_DOMAINALIASCOMMANDS_H
#define KORVO_FRONT_DOMAINALIASCOMMANDS_H

#include "front/CommandRow.h"

namespace korvo::mail::postfix::vornctl_commands {

// The rows of this family's commands, for the command table.
extern const CommandDescription addDomainAliasCommand;
extern const CommandDescription delDomainAliasCommand;
extern const CommandDescription renameDomainAliasCommand;
extern const CommandDescription setDomainKeyCommand;
extern const CommandDescription removeDomainKeyCommand;

} // namespace korvo::mail::postfix::vornctl_commands

#endif
