// The mail authentication database: mail domains and their users with
// passwords, read by the SMTP, POP3 and IMAP services.
//
// Every function opens the SQLite file named by mailAuthDB (MailAuthDB.h),
// runs one statement (getDomainId, which works on the caller's handle, may
// run two; the functions over lists of names or domains one transaction of
// them, committed up to a failure), and closes the file again; the tool
// never creates the file. A
// busy file is waited for (50 ms busy timeout, then unbounded retries, see
// Sqlite.h). Results: 0 on success, -1 on failure after a message at level
// 3 through korvo_log naming the statement and SQLite's error text.
//
// Flags of the writes (MailAuthFlags):
//   Crypted        the password is already encrypted (stored in
//                  cmusaslsecretPLAIN, else in userPassword)
//   UserDisabled   the user gets status 1
//   DomainDisabled a domain registered by this write gets status 1
//   NoNewDomain    getDomainId only: do not register a missing domain
// A write replaces the user's whole row, so exactly one password column
// holds a value afterwards.
#ifndef KORVO_MAIL_AUTH_MAILAUTH_H
#define KORVO_MAIL_AUTH_MAILAUTH_H

#include "mail/auth/MailAuthDB.h"

#include <cstddef>
#include <sqlite3.h>
#include <string>
#include <vector>

enum MailAuthFlags { Crypted = 1, UserDisabled = 2, DomainDisabled = 4, NoNewDomain = 8 };

// The id of domain on the open handle db; a missing domain is registered
// (status 1 when flags is non-zero) unless flags holds NoNewDomain, which
// gives -1. -1 on failure; db stays open.
int getDomainId(const char* domain, sqlite3* db, int flags);

// Stores mailname@domain with password, registering the domain when needed.
int mailAuthSet(const char* mailname, const char* domain, const char* password, int flags);
// mailAuthSet for a non-empty password; a null or empty one removes the user.
int set_postbox_passwd(const char* mailname, const char* domain, const char* password, int flags);
// Removes the user; an unknown domain or user is no error.
int mailAuthRemove(const char* mailname, const char* domain);
// mailAuthRemove of each mailname from each of the domains in one
// transaction on one open file; stops at the first failure, logging failure
// with the mailname and the domain.
int mailAuthRemoveFrom(const std::vector<std::string>& mailnames,
                       const std::vector<std::string>& domains,
                       const char* failure = "Unable to remove mailname %s@%s");
// set_postbox_passwd of each mailname on each of the domains (mailname by
// mailname) in one transaction on one open file: the cost does not grow
// with a domain's aliases and a mailbox's mail aliases. Stops at the first
// failure, logging "Unable to set password for mailname NAME@DOMAIN"; what
// was set before it stays.
int mailAuthSetIn(const std::vector<std::string>& mailnames,
                  const std::vector<std::string>& domains, const char* password, int flags);
// Renames the user within its domain; the domain must be registered.
int mailAuthRename(const char* oldMailname, const char* newMailname, const char* domain);
// mailAuthRename in each of the domains in one transaction; stops at the
// first failure.
int mailAuthRenameIn(const char* oldMailname, const char* newMailname,
                     const std::vector<std::string>& domains);
// Gives dstMailname@dstDomain the password and flags of srcMailname@srcDomain;
// an unknown source is no error and changes nothing.
int mailAuthClone(const char* srcMailname, const char* srcDomain, const char* dstMailname,
                  const char* dstDomain);
// mailAuthClone of mailname@srcDomain to the same name in each of
// dstDomains, in one transaction on one open file: the cost of a mail
// alias does not grow with the domain's aliases. Stops at the first
// failure; the copies made before it stay.
int mailAuthCloneTo(const char* mailname, const char* srcDomain,
                    const std::vector<std::string>& dstDomains);
// mailAuthClone of each mailname from srcDomain to the same name in
// dstDomain, in one transaction on one open file: a domain alias of
// thousands of mailnames gets their credentials at the cost of one write.
// Stops at the first failure, logging "Unable to clone auth record for
// NAME@DST"; the copies made before it stay.
int mailAuthCloneUsers(const std::vector<std::string>& mailnames, const char* srcDomain,
                       const char* dstDomain);
// Links each alias's row to the domain's row, so that a login at the alias
// finds the domain's mail home and follows its status; in one transaction,
// adding the link table first where the database lacks it. An alias or a
// domain without a row yet is left for a later call (the next password set
// there). Stops at the first failure, logging "Unable to link domain alias
// ALIAS to DOMAIN".
int mailAuthLinkAliases(const char* domain, const std::vector<std::string>& aliases);
// Removes the domain and, through the database's triggers, its users and
// its alias links.
int mailAuthRemoveDomain(const char* domain);
// Sets the domain's status (0 enabled, 1 disabled); its users keep theirs.
int setDomainStatus(const char* domain, int status);
// 1 when the domain is registered and switched off; 0 when it is switched
// on, not registered, or there is no database yet; -1 on an error (logged).
int mailAuthDomainDisabled(const char* domain);
int mailAuthEnableDomain(const char* domain);
int mailAuthDisableDomain(const char* domain);

// What mailAuthEnableDomain, mailAuthDisableDomain and mailAuthRemoveDomain
// do, applied to many domains at once.
enum class DomainChange { Enable, Disable, Remove };
// The change to each of the domains in one transaction on one open file (a
// domain's aliases cost one write); Disable registers a domain that has no
// row yet, switched off, so that the switch outlives a re-run of
// --add-domain. Stops at the first failure, setting
// failedAt to its index (the last one's when the commit itself failed).
// What was changed before it stays.
int mailAuthChangeDomains(const std::vector<std::string>& domains, DomainChange change,
                          std::size_t& failedAt);

#endif
