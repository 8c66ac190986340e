// Mailnames (mail accounts m of a domain d) across the lookup tables, the
// mail home, its quota and its .qmail delivery file.
//
// A mailname has its mailbox record (m@d, "d/m/Maildir/") in the mailbox
// table and, in the virtual table, m@d mapped to itself and m@ad mapped to
// m@d for every domain alias ad of d. Its mail aliases a are the virtual
// records a@d and a@ad, both mapped to m@d. Domain aliases come from the
// panel database; when that lookup fails or finds nothing, d alone is
// handled. Forwards live only in the .qmail file.
//
// Names are ASCII (IDNA) domain names and checked mailnames. Renames find
// stored keys and list elements whatever their letter case (postmap
// stores keys in lower case); mailbox paths are matched byte for byte. A
// list element the rename found in another letter case than the call's
// comes back from a roll-back spelled as in the call.
//
// Failures: postmap failures raise PostfixConfigurationError (adds,
// rewrites) or PostfixDatabaseError (deletes); the home, quota and .qmail
// layers raise their own errors (FSError, boost::filesystem errors,
// korvo::SystemError). Steps already made are not undone, except that
// createMailname removes a home it made when its .qmail or quota cannot be
// written, and renameMailname rewrites both tables back when a later step
// fails and reports every table it could not restore on korvo::uerr.
//
// All operations are static. Those taking a BatchDatabaseHelper& record
// their changes through it; their overloads without one use an immediate,
// incremental batch of their own.
#ifndef KORVO_POSTFIX_MAILNAMEMANAGER_H
#define KORVO_POSTFIX_MAILNAMEMANAGER_H

#include "mail/storage/OnRemoval.h"

#include <string>
#include <vector>

namespace korvo::mail::postfix {

class BatchDatabaseHelper;

class MailnameManager {
public:
    MailnameManager() = delete;

    // Creates the mail home with delivery off (.qmail "| true") and no
    // quota, then the records. Run again on an existing home, it keeps the
    // home's mail and its .qmail as they are.
    static void createMailname(const std::string& domain, const std::string& mailname);
    // The same with a mailbox quota in bytes (negative: no limit).
    static void createMailname(const std::string& domain, const std::string& mailname, long quota);
    static void createMailnameRecord(BatchDatabaseHelper& batch, const std::string& domain,
                                     const std::string& mailname);
    // Removes the mailbox and virtual records (not the mail aliases'), then
    // deals with the home as mode says: Remove deletes it, moving aside what
    // cannot be deleted; Backup moves it aside.
    static void removeMailname(const std::string& domain, const std::string& mailname,
                               OnRemoval mode);
    // Renames the mailbox record, every virtual key and list element naming
    // the address, and the mail home, in this order; when the virtual table
    // or the home cannot be renamed, the tables are rewritten back.
    static void renameMailname(const std::string& domain, const std::string& oldMailname,
                               const std::string& newMailname);
    // The same, renaming the address on each of the domain aliases too, in
    // the same pass over the virtual table.
    static void renameMailname(const std::string& domain, const std::string& oldMailname,
                               const std::string& newMailname,
                               const std::vector<std::string>& domainAliases);
    // Renames the mailname's address on one domain alias in the virtual
    // table.
    static void renameMailnameOnDomainAlias(const std::string& alias,
                                            const std::string& oldMailname,
                                            const std::string& newMailname);

    static void createMailAlias(BatchDatabaseHelper& batch, const std::string& domain,
                                const std::string& mailname, const std::string& alias);
    static void createMailAlias(const std::string& domain, const std::string& mailname,
                                const std::string& alias);
    // mailname is not needed to find the records and is not used.
    static void removeMailAlias(const std::string& domain, const std::string& mailname,
                                const std::string& alias);

    // Stores mail in the mailbox, or stops storing it.
    static void enableDelivery(const std::string& domain, const std::string& mailname);
    static void disableDelivery(const std::string& domain, const std::string& mailname);
    // Forwards a copy of each message to address, or stops doing so.
    static void addForward(const std::string& domain, const std::string& mailname,
                           const std::string& address);
    static void removeForward(const std::string& domain, const std::string& mailname,
                              const std::string& address);
};

} // namespace korvo::mail::postfix

#endif
