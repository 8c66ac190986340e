#include "postfix/managers/MailnameManager.h"

#include "mail/panel/PanelQueries.h"
#include "mail/storage/DotQMailManager.h"
#include "mail/storage/MaildirManager.h"
#include "mail/storage/MaildirPPManager.h"
#include "mail/storage/NoFollowFs.h"
#include "postfix/managers/DomainFilters.h"
#include "postfix/managers/PanelLists.h"
#include "postfix/managers/RollbackSteps.h"
#include "postfix/tables/BatchDatabaseHelper.h"
#include "postfix/tables/DatabaseHelper.h"
#include "postfix/tables/ElementFilters.h"
#include "postfix/tables/Tables.h"

#include <exception>
#include <functional>
#include <vector>

namespace korvo::mail::postfix {

namespace {

using database::ElementsFilter;
using database::KeyValueFilter;
using database::ReplaceAddress;
using database::ReplaceElementFilterRef;
using database::ReplaceLocalPart;
using RecordList = BatchDatabaseHelper::RecordList;

// New forward lines go to the end of .qmail whatever is asked.
const DotQMailManager::Position forwardPosition = DotQMailManager::Default;

DotQMailManager dotQMailOf(const std::string& domain, const std::string& mailname) {
    return DotQMailManager(MaildirManager::getInstance().getMailnameHome(domain, mailname) +
                           "/.qmail");
}

// The records of one local part on the domain and each of its aliases, all
// delivering to the mailbox address.
RecordList addressRecords(const std::string& domain, const std::string& localPart,
                          const std::string& mailbox) {
    RecordList records{{tables::address(localPart, domain), mailbox}};
    for (const std::string& alias : domainAliasesOf(domain).value_or(std::vector<std::string>())) {
        records.emplace_back(tables::address(localPart, alias), mailbox);
    }
    return records;
}

// Drops the virtual records of the local part on the domain and on each of
// its aliases with one postmap run.
void removeAddresses(const std::string& domain, const std::string& localPart) {
    std::vector<std::string> keys{tables::address(localPart, domain)};
    for (const std::string& alias : domainAliasesOf(domain).value_or(std::vector<std::string>())) {
        keys.push_back(tables::address(localPart, alias));
    }
    DatabaseHelper::removeRecords(tables::VIRTUAL, keys.cbegin(), keys.cend());
}

// The mailbox record's key and path; a path is a file name and is matched
// exactly.
void renameMailbox(const std::string& fromAddress, const std::string& toAddress,
                   const std::string& fromPath, const std::string& toPath) {
    DatabaseHelper::filterRecords(
        tables::VMAILBOX,
        KeyValueFilter<ReplaceAddress, ReplaceElementFilterRef>(
            ReplaceAddress(fromAddress, toAddress), ReplaceElementFilterRef(fromPath, toPath)));
}

// Every virtual key and list element that is the address.
void renameAddress(const std::string& from, const std::string& to) {
    DatabaseHelper::filterRecords(tables::VIRTUAL,
                                  ElementsFilter<ReplaceAddress>(ReplaceAddress(from, to)));
}

// Every virtual key and list element that is the local part on one of the
// domains, in one pass over the table.
void renameLocalPart(const std::string& from, const std::string& to,
                     const std::vector<std::string>& domains) {
    DatabaseHelper::filterRecords(
        tables::VIRTUAL, ElementsFilter<ReplaceLocalPart>(ReplaceLocalPart(from, to, domains)));
}

// Makes the home, its .qmail and its quota (setQuota). A home this call
// made is removed again when the .qmail or the quota cannot be written (a
// full disk), so a refused mailname leaves no empty home behind; a home
// that was there before keeps its mail, and its .qmail: a re-run that reset
// it to "| true" would silently drop every message from then on.
void createMailnameParts(const std::string& domain, const std::string& mailname,
                         const std::function<void()>& setQuota) {
    const MaildirManager& homes = MaildirManager::getInstance();
    const std::string home = homes.getMailnameHome(domain, mailname);
    const bool existed = existsNoFollow(home);
    const bool hasDeliveryFile = existed && existsNoFollow(home + "/.qmail");
    homes.createMailnameHome(domain, mailname);
    try {
        if (!hasDeliveryFile)
            dotQMailOf(domain, mailname).reset();
        setQuota();
    } catch (...) {
        if (!existed) {
            try {
                homes.removeMailnameHome(domain, mailname);
            } catch (const std::exception&) {
                // The first error is the one to report.
            }
        }
        throw;
    }
}

} // namespace

void MailnameManager::createMailname(const std::string& domain, const std::string& mailname) {
    createMailnameParts(domain, mailname, [&] {
        MaildirPPManager::getInstance().removeMailboxQuota(domain, mailname);
    });
    BatchDatabaseHelper batch(INCREMENTAL, IMMEDIATE);
    createMailnameRecord(batch, domain, mailname);
}

void MailnameManager::createMailname(const std::string& domain, const std::string& mailname,
                                     long quota) {
    createMailnameParts(domain, mailname, [&] {
        MaildirPPManager::getInstance().setMailboxQuota(domain, mailname, quota);
    });
    BatchDatabaseHelper batch(INCREMENTAL, IMMEDIATE);
    createMailnameRecord(batch, domain, mailname);
}

void MailnameManager::createMailnameRecord(BatchDatabaseHelper& batch, const std::string& domain,
                                           const std::string& mailname) {
    const std::string mailbox = tables::address(mailname, domain);
    batch.addChange(tables::VMAILBOX, mailbox, tables::mailboxPath(domain, mailname));
    const RecordList records = addressRecords(domain, mailname, mailbox);
    batch.addChanges(tables::VIRTUAL, records.cbegin(), records.cend());
}

void MailnameManager::removeMailname(const std::string& domain, const std::string& mailname,
                                     OnRemoval mode) {
    const std::string mailbox = tables::address(mailname, domain);
    DatabaseHelper::removeRecord(tables::VMAILBOX, mailbox);
    removeAddresses(domain, mailname);
    MaildirManager& homes = MaildirManager::getInstance();
    if (mode == Remove) {
        try {
            homes.removeMailnameHome(domain, mailname);
        } catch (const std::exception&) {
            // What could not be deleted is moved aside below.
        }
        homes.backupMailnameHome(domain, mailname);
    } else if (mode == Backup) {
        homes.backupMailnameHome(domain, mailname);
    }
}

void MailnameManager::renameMailname(const std::string& domain, const std::string& oldMailname,
                                     const std::string& newMailname) {
    renameMailname(domain, oldMailname, newMailname, {});
}

void MailnameManager::renameMailname(const std::string& domain, const std::string& oldMailname,
                                     const std::string& newMailname,
                                     const std::vector<std::string>& domainAliases) {
    const std::string oldAddress = tables::address(oldMailname, domain);
    const std::string newAddress = tables::address(newMailname, domain);
    const std::string oldPath = tables::mailboxPath(domain, oldMailname);
    const std::string newPath = tables::mailboxPath(domain, newMailname);
    std::vector<std::string> domains{domain};
    domains.insert(domains.end(), domainAliases.begin(), domainAliases.end());
    renameMailbox(oldAddress, newAddress, oldPath, newPath);
    RollbackSteps rollback;
    try {
        rollback.arm(tables::VMAILBOX,
                     [&] { renameMailbox(newAddress, oldAddress, newPath, oldPath); });
        renameLocalPart(oldMailname, newMailname, domains);
        rollback.arm(tables::VIRTUAL, [&] { renameLocalPart(newMailname, oldMailname, domains); });
        MaildirManager::getInstance().renameMailnameHome(domain, oldMailname, newMailname);
    } catch (...) {
        rollback.run();
        throw;
    }
}

void MailnameManager::renameMailnameOnDomainAlias(const std::string& alias,
                                                  const std::string& oldMailname,
                                                  const std::string& newMailname) {
    renameAddress(tables::address(oldMailname, alias), tables::address(newMailname, alias));
}

void MailnameManager::createMailAlias(BatchDatabaseHelper& batch, const std::string& domain,
                                      const std::string& mailname, const std::string& alias) {
    const RecordList records = addressRecords(domain, alias, tables::address(mailname, domain));
    batch.addChanges(tables::VIRTUAL, records.cbegin(), records.cend());
}

void MailnameManager::createMailAlias(const std::string& domain, const std::string& mailname,
                                      const std::string& alias) {
    BatchDatabaseHelper batch(INCREMENTAL, IMMEDIATE);
    createMailAlias(batch, domain, mailname, alias);
}

void MailnameManager::removeMailAlias(const std::string& domain, const std::string& /*mailname*/,
                                      const std::string& alias) {
    removeAddresses(domain, alias);
}

void MailnameManager::enableDelivery(const std::string& domain, const std::string& mailname) {
    dotQMailOf(domain, mailname).enableDelivery();
}

void MailnameManager::disableDelivery(const std::string& domain, const std::string& mailname) {
    dotQMailOf(domain, mailname).disableDelivery();
}

void MailnameManager::addForward(const std::string& domain, const std::string& mailname,
                                 const std::string& address) {
    dotQMailOf(domain, mailname).addRedirect(address, forwardPosition);
}

void MailnameManager::removeForward(const std::string& domain, const std::string& mailname,
                                    const std::string& address) {
    dotQMailOf(domain, mailname).removeRedirect(address);
}

} // namespace korvo::mail::postfix
