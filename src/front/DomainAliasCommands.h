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

#include "front/CommandTable.h"
#include "front/ProgramOptionsHelper.h"

namespace korvo::mail::postfix::vornctl_commands {

int addDomainAlias(int argc, char** argv);
int removeDomainAlias(int argc, char** argv);
int renameDomainAlias(int argc, char** argv);
int setDomainKey(int argc, char** argv);
int removeDomainKey(int argc, char** argv);

// Declares the switches set-catchall, set-bounce and set-reject with the
// values email and phrase, none of them mandatory.
void formNotexistingMailOptions(ProgramOptionsHelper& helper);
// Applies the first of set-bounce, set-catchall, set-reject given to the
// alias named by domain-alias-name (when declared) or new-domain-alias-name:
// a bounce with the phrase, a catch-all to the email address, or nothing
// (unknown mailnames are rejected). Returns 0, or 1 after a log line when
// none was given. A set-catchall without a usable email throws
// MissingMandatoryOption("email") or boost's bad_any_cast.
int processNotexistingMailnamesOptions(const ProgramOptionsHelper& helper);

// Adds the words of this family to the command table.
void registerDomainAliasCommands(CommandMapAssigner& assign);

} // namespace korvo::mail::postfix::vornctl_commands

#endif
