// Mail domain commands: create, remove, switch on and off, the domain's
// disk quota, and what happens to mail for mailnames the domain does not
// have (bounce, catch-all, reject).
//
// Each handler parses its options, converts and checks the domain name
// (and the catch-all address) before anything else, then calls the
// authentication database, the domain manager and the handler registry in
// a fixed order. Exit statuses: 0; 1 when an authentication database step
// fails (what that step logged is the only text, later steps are skipped).
// Manager failures reach main ("Fatal error", status 1) and leave what was
// done before them; a handler registry failure only writes a "WARNING: "
// line. --set-reject and --unset-reject both take the catch-all and bounce
// away: Postfix itself rejects unknown recipients of a virtual domain.
#ifndef KORVO_FRONT_DOMAINCOMMANDS_H
#define KORVO_FRONT_DOMAINCOMMANDS_H

#include "front/CommandRow.h"

namespace korvo::mail::postfix::vornctl_commands {

// The rows of this family's commands, for the command table.
extern const CommandDescription addDomainCommand;
extern const CommandDescription removeDomainCommand;
extern const CommandDescription turnOnDomainCommand;
extern const CommandDescription turnOffDomainCommand;
extern const CommandDescription setDomainDiskQuotaCommand;
extern const CommandDescription setBounceCommand;
extern const CommandDescription setCatchallCommand;
extern const CommandDescription setRejectCommand;
extern const CommandDescription unsetRejectCommand;

} // namespace korvo::mail::postfix::vornctl_commands

#endif
