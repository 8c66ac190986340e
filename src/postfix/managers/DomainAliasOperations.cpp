// The domain-alias and domain-rename operations of DomainManager.
#include "postfix/managers/DomainManager.h"

#include "mail/storage/MaildirManager.h"
#include "postfix/managers/DomainFilters.h"
#include "postfix/managers/PanelLists.h"
#include "postfix/managers/RollbackSteps.h"
#include "postfix/tables/BatchDatabaseHelper.h"
#include "postfix/tables/DatabaseHelper.h"
#include "postfix/tables/ElementFilters.h"
#include "postfix/tables/Tables.h"

namespace korvo::mail::postfix {

namespace {

using database::ElementsFilter;
using database::KeyValueFilter;
using database::ReplaceAddress;
using database::ReplaceDomainPart;
using database::ReplaceDomainPath;

void renameDomainKey(const std::string& from, const std::string& to) {
    DatabaseHelper::filterRecords(tables::VIRTUAL_DOMAINS,
                                  ElementsFilter<ReplaceAddress>(ReplaceAddress(from, to)));
}

// Moves every key and list element that is the domain or an address of it.
void renameDomainAddresses(const std::string& from, const std::string& to) {
    DatabaseHelper::filterRecords(
        tables::VIRTUAL, ElementsFilter<ReplaceDomainPart>(ReplaceDomainPart(from, to, false)));
}

// Moves the mailbox records of a domain: the domain part of their keys and
// the domain root at the start of their mailbox paths.
class safeMailboxRenamer {
public:
    static void rename(const std::string& from, const std::string& to) {
        const std::string fromRoot = MaildirManager::getInstance().getDomainRelativeRoot(from);
        const std::string toRoot = MaildirManager::getInstance().getDomainRelativeRoot(to);
        DatabaseHelper::filterRecords(
            tables::VMAILBOX,
            KeyValueFilter<ReplaceDomainPart, ReplaceDomainPath>(
                ReplaceDomainPart(from, to, false), ReplaceDomainPath(fromRoot, toRoot)));
    }
};

} // namespace

void DomainManager::createDomainAlias(BatchDatabaseHelper& batch, const std::string& domain,
                                      const std::string& alias) {
    createDomainAlias(batch, domain, alias, mailnamesWithAliasesOf(domain));
}

void DomainManager::createDomainAlias(BatchDatabaseHelper& batch, const std::string& domain,
                                      const std::string& alias,
                                      const MailnameAliasList& mailnames) {
    createStandardDomainAddresses(batch, alias);
    BatchDatabaseHelper::RecordList records{{alias, tables::DOMAIN_ALIAS_MARKER}};
    for (const MailnameAliases& entry : mailnames) {
        const std::string mailbox = tables::address(entry.mailname, domain);
        for (const std::string& mailAlias : entry.aliases) {
            records.emplace_back(tables::address(mailAlias, alias), mailbox);
        }
        records.emplace_back(tables::address(entry.mailname, alias), mailbox);
    }
    batch.addChanges(tables::VIRTUAL, records.cbegin(), records.cend());
}

void DomainManager::createDomainAlias(const std::string& domain, const std::string& alias) {
    BatchDatabaseHelper batch(INCREMENTAL, IMMEDIATE);
    createDomainAlias(batch, domain, alias);
}

void DomainManager::removeDomainAlias(const std::string& alias) {
    DatabaseHelper::filterRecords(tables::VIRTUAL,
                                  database::ElementsFilter<database::NotInDomainFilter>(
                                      database::NotInDomainFilter(alias, false)));
}

void DomainManager::renameDomainAlias(const std::string& oldAlias, const std::string& newAlias) {
    renameDomainAddresses(oldAlias, newAlias);
}

void DomainManager::renameDomain(const std::string& oldDomain, const std::string& newDomain) {
    renameDomainKey(oldDomain, newDomain);
    RollbackSteps rollback;
    try {
        rollback.arm(tables::VIRTUAL_DOMAINS, [&] { renameDomainKey(newDomain, oldDomain); });
        renameDomainAddresses(oldDomain, newDomain);
        rollback.arm(tables::VIRTUAL, [&] { renameDomainAddresses(newDomain, oldDomain); });
        safeMailboxRenamer::rename(oldDomain, newDomain);
        rollback.arm(tables::VMAILBOX, [&] { safeMailboxRenamer::rename(newDomain, oldDomain); });
        MaildirManager::getInstance().renameDomainRoot(oldDomain, newDomain);
    } catch (...) {
        rollback.run();
        throw;
    }
}

} // namespace korvo::mail::postfix
