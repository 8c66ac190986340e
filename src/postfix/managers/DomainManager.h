// Mail domains and domain aliases as lookup-table records.
//
// A domain d is served while the virtual domains table holds its record (d,
// "d/"); it always answers the standard addresses (postmaster@d and the
// others of tables::STANDARD_ADDRESS_NAMES, handed to the local addresses of
// the same names); mail to addresses the tables do not know is forwarded to
// a catch-all address, handed to the bounce program, or rejected (no
// catch-all key at all). Catch-all, bounce and reject apply to the domain's
// aliases as well, as the panel database lists them; when that lookup fails
// or finds nothing, the domain alone is handled.
//
// A domain alias ad of d lives only in the virtual table: its marker (ad,
// "1"), its standard addresses, and one record per mailname and mail alias
// of d pointing straight at the mailbox address on d.
//
// Names are ASCII (IDNA) domain names, checked by the caller. Whole-domain
// removals and renames find stored keys and list elements whatever their
// letter case (postmap stores keys in lower case).
//
// Failures: postmap failures raise PostfixConfigurationError (adds,
// rewrites) or PostfixDatabaseError (deletes); the mail home layer raises
// its own errors (FSError, boost::filesystem errors, korvo::SystemError).
// Steps already made are not undone, except by renameDomain, which rewrites
// the tables back when a later step fails and reports every table it could
// not restore on korvo::uerr.
//
// All operations are static. Those taking a BatchDatabaseHelper& record
// their changes through it; their overloads without one use an immediate,
// incremental batch of their own.
#ifndef KORVO_POSTFIX_DOMAINMANAGER_H
#define KORVO_POSTFIX_DOMAINMANAGER_H

#include "mail/panel/MailnameAliases.h"
#include "mail/storage/OnRemoval.h"

#include <string>
#include <vector>

namespace korvo::mail::postfix {

class BatchDatabaseHelper;

class DomainManager {
public:
    DomainManager() = delete;

    // Creates the domain root, clears what an earlier domain alias of the
    // same name left in the tables (only while the virtual table still holds
    // the name's alias marker), and writes the standard addresses and,
    // unless disabled, the domain record. A re-run on a live domain keeps
    // all its records.
    static void createDomain(const std::string& domain, bool disabled);
    // The same, with the domain's disk quota set before the tables change.
    static void createDomain(const std::string& domain, long quota, bool disabled);
    // Unserves the domain, deals with its mail as mode says (Remove: the
    // domain root goes, a failure to delete it is ignored; Backup: it is
    // moved aside, a failure ends the removal), then drops every record of
    // the domain and its addresses from the virtual and mailbox tables,
    // including other domains' forwardings to them.
    static void removeDomain(const std::string& domain, OnRemoval mode);

    // The domain record and the standard addresses.
    static void enableDomain(BatchDatabaseHelper& batch, const std::string& domain);
    // Switches the domain on together with its domain aliases (as the panel
    // lists them): the domain record, the standard addresses of both and
    // the aliases' markers, one postmap run per table.
    static void enableDomain(const std::string& domain);
    // Removes what enableDomain writes, so that no address of the domain or
    // of its aliases is accepted; mailboxes, mail aliases and catch-alls
    // stay for the switch back on.
    static void disableDomain(const std::string& domain);
    static void createDomainRecord(BatchDatabaseHelper& batch, const std::string& domain,
                                   bool disabled);

    static void createStandardDomainAddresses(BatchDatabaseHelper& batch,
                                              const std::string& domain);
    static void createStandardDomainAddresses(const std::string& domain);
    static void removeStandardDomainAddresses(BatchDatabaseHelper& batch,
                                              const std::string& domain);
    static void removeStandardDomainAddresses(const std::string& domain);

    // Forwards unknown addresses of the domain and its aliases to target.
    static void createCatchall(BatchDatabaseHelper& batch, const std::string& domain,
                               const std::string& target);
    static void createCatchall(const std::string& domain, const std::string& target);
    static void createCatchallFor(BatchDatabaseHelper& batch,
                                  const std::vector<std::string>& domains,
                                  const std::string& target);
    // Answers unknown addresses of the domain and its aliases with the
    // bounce program and message (line feeds become blanks).
    static void setBounce(BatchDatabaseHelper& batch, const std::string& domain,
                          const std::string& message);
    static void setBounce(const std::string& domain, const std::string& message);
    static void setBounceFor(BatchDatabaseHelper& batch, const std::vector<std::string>& domains,
                             const std::string& message);
    // Back to reject for the domain and its aliases. The bounce program
    // records stay.
    static void removeCatchall(BatchDatabaseHelper& batch, const std::string& domain);
    static void removeCatchall(const std::string& domain);
    static void removeCatchallFor(BatchDatabaseHelper& batch,
                                  const std::vector<std::string>& domains);

    // Drops from the virtual and mailbox tables every record keyed by the
    // domain or an address of it (with subdomains, of its subdomains too),
    // removes such addresses from the values of other records, and drops
    // the records left without a value.
    static void removeDomainReferences(const std::string& domain, bool subdomains);

    // Writes the alias's marker, standard addresses and one record per
    // mailname and mail alias of the domain (from the panel database).
    static void createDomainAlias(BatchDatabaseHelper& batch, const std::string& domain,
                                  const std::string& alias);
    // The same from the mailnames the caller read (mailnamesWithAliasesOf).
    static void createDomainAlias(BatchDatabaseHelper& batch, const std::string& domain,
                                  const std::string& alias, const MailnameAliasList& mailnames);
    static void createDomainAlias(const std::string& domain, const std::string& alias);
    // Drops every record of the alias and its addresses from the virtual
    // table, and its addresses from forwarding lists.
    static void removeDomainAlias(const std::string& alias);
    // Moves the alias's keys and list elements to the new name; values that
    // point into the real domain stay. The bounce program record keeps its
    // old key.
    static void renameDomainAlias(const std::string& oldAlias, const std::string& newAlias);
    // Renames the domain in the virtual domains, virtual and mailbox tables
    // and its domain root, in this order; when a step after the first fails,
    // the tables already rewritten are rewritten back.
    static void renameDomain(const std::string& oldDomain, const std::string& newDomain);
};

} // namespace korvo::mail::postfix

#endif
