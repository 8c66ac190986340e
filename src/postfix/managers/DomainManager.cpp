#include "postfix/managers/DomainManager.h"

#include "mail/panel/PanelQueries.h"
#include "mail/storage/MaildirManager.h"
#include "mail/storage/MaildirPPManager.h"
#include "postfix/managers/DomainFilters.h"
#include "postfix/managers/PanelLists.h"
#include "postfix/tables/BatchDatabaseHelper.h"
#include "postfix/tables/DatabaseHelper.h"
#include "postfix/tables/ElementFilters.h"
#include "postfix/tables/Tables.h"
#include "utils/ShellQuote.h"

#include <algorithm>
#include <exception>

namespace korvo::mail::postfix {

namespace {

using RecordList = BatchDatabaseHelper::RecordList;
using KeyList = BatchDatabaseHelper::KeyList;

// Postfix's local delivery pipes the message to this program with the
// domain's message as its one argument.
const char bounceProgram[] = "/usr/lib64/korvo-9.0/bouncemessage";

// The aliases-table value that runs the bounce program. The message is
// flattened to one line, as a record value must be, and shell-quoted twice:
// the shell that local delivery starts for the line takes off one layer,
// and the program gets its argument still quoted once.
std::string bounceProgramLine(const std::string& message) {
    std::string line = std::string("\"|") + bounceProgram;
    if (!message.empty()) {
        std::string flat = message;
        std::replace(flat.begin(), flat.end(), '\n', ' ');
        line += ' ';
        line += sh_quote(sh_quote(flat));
    }
    line += '"';
    return line;
}

// The domain followed by its aliases, as the panel lists them.
std::vector<std::string> withAliases(const std::string& domain) {
    std::vector<std::string> domains{domain};
    for (const std::string& alias : domainAliasesOf(domain).value_or(std::vector<std::string>()))
        domains.push_back(alias);
    return domains;
}

// The virtual records that switching a domain takes out or puts back: its
// standard addresses, and the marker and standard addresses of each of its
// aliases. An alias left on would go on accepting mail that can only be
// forwarded to the domain the server no longer serves, and bounce.
RecordList switchedRecords(const std::string& domain) {
    RecordList records;
    for (const std::string& name : withAliases(domain)) {
        if (name != domain)
            records.emplace_back(name, tables::DOMAIN_ALIAS_MARKER);
        for (const char* local : tables::STANDARD_ADDRESS_NAMES)
            records.emplace_back(tables::address(local, name), tables::localAddress(local));
    }
    return records;
}

// A name that was a domain alias before it became a domain leaves records
// behind that would route its mail elsewhere. Only its marker tells such a
// name from a live domain, whose own records the same filter would drop: a
// single lookup, so a re-run on a domain passes over no table.
void clearDomainAliasLeftovers(const std::string& name) {
    std::string value;
    if (DatabaseHelper::findRecord(tables::VIRTUAL, name, value) &&
        value == tables::DOMAIN_ALIAS_MARKER)
        DomainManager::removeDomainAlias(name);
}

} // namespace

void DomainManager::createDomain(const std::string& domain, bool disabled) {
    MaildirManager::getInstance().createDomainRoot(domain);
    clearDomainAliasLeftovers(domain);
    BatchDatabaseHelper batch(INCREMENTAL, IMMEDIATE);
    createDomainRecord(batch, domain, disabled);
}

void DomainManager::createDomain(const std::string& domain, long quota, bool disabled) {
    MaildirManager::getInstance().createDomainRoot(domain);
    MaildirPPManager::getInstance().setDomainQuota(domain, quota);
    clearDomainAliasLeftovers(domain);
    BatchDatabaseHelper batch(INCREMENTAL, IMMEDIATE);
    createDomainRecord(batch, domain, disabled);
}

void DomainManager::removeDomain(const std::string& domain, OnRemoval mode) {
    DatabaseHelper::removeRecord(tables::VIRTUAL_DOMAINS, domain);
    if (mode == Remove) {
        try {
            MaildirManager::getInstance().removeDomainRoot(domain);
        } catch (const std::exception&) {
            // The mail stays on disk; the domain must still stop receiving.
        }
    } else if (mode == Backup) {
        MaildirManager::getInstance().backupDomainRoot(domain);
    }
    removeDomainReferences(domain, false);
}

void DomainManager::enableDomain(BatchDatabaseHelper& batch, const std::string& domain) {
    batch.addChange(tables::VIRTUAL_DOMAINS, domain, tables::domainRecordValue(domain));
    createStandardDomainAddresses(batch, domain);
}

void DomainManager::enableDomain(const std::string& domain) {
    const RecordList records = switchedRecords(domain);
    BatchDatabaseHelper batch(INCREMENTAL, IMMEDIATE);
    batch.addChange(tables::VIRTUAL_DOMAINS, domain, tables::domainRecordValue(domain));
    batch.addChanges(tables::VIRTUAL, records.cbegin(), records.cend());
}

void DomainManager::disableDomain(const std::string& domain) {
    KeyList keys;
    for (const auto& record : switchedRecords(domain))
        keys.push_back(record.first);
    DatabaseHelper::removeRecord(tables::VIRTUAL_DOMAINS, domain);
    DatabaseHelper::removeRecords(tables::VIRTUAL, keys.begin(), keys.end());
}

void DomainManager::createDomainRecord(BatchDatabaseHelper& batch, const std::string& domain,
                                       bool disabled) {
    createStandardDomainAddresses(batch, domain);
    if (!disabled) {
        enableDomain(batch, domain);
    }
}

void DomainManager::createStandardDomainAddresses(BatchDatabaseHelper& batch,
                                                  const std::string& domain) {
    RecordList records;
    for (const char* name : tables::STANDARD_ADDRESS_NAMES) {
        records.emplace_back(tables::address(name, domain), tables::localAddress(name));
    }
    batch.addChanges(tables::VIRTUAL, records.cbegin(), records.cend());
}

void DomainManager::createStandardDomainAddresses(const std::string& domain) {
    BatchDatabaseHelper batch(INCREMENTAL, IMMEDIATE);
    createStandardDomainAddresses(batch, domain);
}

void DomainManager::removeStandardDomainAddresses(BatchDatabaseHelper& batch,
                                                  const std::string& domain) {
    KeyList keys;
    for (const char* name : tables::STANDARD_ADDRESS_NAMES) {
        keys.push_back(tables::address(name, domain));
    }
    batch.removeChanges(tables::VIRTUAL, keys.begin(), keys.end());
}

void DomainManager::removeStandardDomainAddresses(const std::string& domain) {
    BatchDatabaseHelper batch(INCREMENTAL, IMMEDIATE);
    removeStandardDomainAddresses(batch, domain);
}

void DomainManager::createCatchall(BatchDatabaseHelper& batch, const std::string& domain,
                                   const std::string& target) {
    createCatchallFor(batch, withAliases(domain), target);
}

void DomainManager::createCatchall(const std::string& domain, const std::string& target) {
    BatchDatabaseHelper batch(INCREMENTAL, IMMEDIATE);
    createCatchall(batch, domain, target);
}

void DomainManager::createCatchallFor(BatchDatabaseHelper& batch,
                                      const std::vector<std::string>& domains,
                                      const std::string& target) {
    RecordList records;
    for (const std::string& domain : domains) {
        records.emplace_back(tables::catchAllKey(domain), target);
    }
    batch.addChanges(tables::VIRTUAL, records.cbegin(), records.cend());
}

void DomainManager::setBounce(BatchDatabaseHelper& batch, const std::string& domain,
                              const std::string& message) {
    setBounceFor(batch, withAliases(domain), message);
}

void DomainManager::setBounce(const std::string& domain, const std::string& message) {
    BatchDatabaseHelper batch(INCREMENTAL, IMMEDIATE);
    setBounce(batch, domain, message);
}

void DomainManager::setBounceFor(BatchDatabaseHelper& batch,
                                 const std::vector<std::string>& domains,
                                 const std::string& message) {
    const std::string programLine = bounceProgramLine(message);
    RecordList programs;
    RecordList catchAlls;
    for (const std::string& domain : domains) {
        programs.emplace_back(tables::bounceAliasName(domain), programLine);
        catchAlls.emplace_back(tables::catchAllKey(domain), tables::bounceAddress(domain));
    }
    batch.addChanges(tables::ALIASES, programs.cbegin(), programs.cend());
    batch.addChanges(tables::VIRTUAL, catchAlls.cbegin(), catchAlls.cend());
}

void DomainManager::removeCatchall(BatchDatabaseHelper& batch, const std::string& domain) {
    removeCatchallFor(batch, withAliases(domain));
}

void DomainManager::removeCatchallFor(BatchDatabaseHelper& batch,
                                      const std::vector<std::string>& domains) {
    KeyList keys;
    for (const std::string& domain : domains) {
        keys.push_back(tables::catchAllKey(domain));
    }
    batch.removeChanges(tables::VIRTUAL, keys.begin(), keys.end());
}

void DomainManager::removeCatchall(const std::string& domain) {
    BatchDatabaseHelper batch(INCREMENTAL, IMMEDIATE);
    removeCatchall(batch, domain);
}

void DomainManager::removeDomainReferences(const std::string& domain, bool subdomains) {
    const database::ElementsFilter<database::NotInDomainFilter> filter(
        database::NotInDomainFilter(domain, subdomains));
    DatabaseHelper::filterRecords(tables::VIRTUAL, filter);
    DatabaseHelper::filterRecords(tables::VMAILBOX, filter);
}

} // namespace korvo::mail::postfix
