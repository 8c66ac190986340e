#include "postfix/managers/SettingsManager.h"

#include "postfix/tables/BatchDatabaseHelper.h"
#include "postfix/tables/DatabaseHelper.h"
#include "postfix/config/MainCfManager.h"
#include "postfix/tables/Tables.h"

#include <boost/algorithm/string.hpp>
#include <utility>

namespace korvo::mail::postfix {

namespace {

const char* const recipientRestrictions = "smtpd_recipient_restrictions";
const char* const clientRestrictions = "smtpd_client_restrictions";
const char* const rblItem = "reject_rbl_client";

// Restarts the recipient restrictions with first, then the per-client relay
// check, then last; each step is its own postconf run.
void writeRecipientRestrictions(const std::string& first, const std::string& last) {
    const MainCfManager& mainCf = MainCfManager::getInstance();
    mainCf.replaceStringValue(recipientRestrictions, first);
    mainCf.appendCompoundStringValue(recipientRestrictions, "check_client_access",
                                     tables::NO_RELAY);
    mainCf.appendStringValue(recipientRestrictions, last);
}

} // namespace

void SettingsManager::setClosedRelay() {
    writeRecipientRestrictions("permit_mynetworks", "reject_unauth_destination");
}

void SettingsManager::setOpenRelay() {
    writeRecipientRestrictions("permit", "reject");
}

void SettingsManager::setAuthRelay(boost::logic::tribool smtpAuth,
                                   boost::logic::tribool popBeforeSmtp) {
    const MainCfManager& mainCf = MainCfManager::getInstance();
    if (smtpAuth) {
        mainCf.replaceStringValue("smtpd_sasl_auth_enable", "yes");
        // One string: it never matches a single element, so it is always
        // appended as written.
        writeRecipientRestrictions("permit_mynetworks",
                                   "permit_sasl_authenticated, reject_unauth_destination");
    } else if (!smtpAuth) {
        mainCf.replaceStringValue("smtpd_sasl_auth_enable", "no");
        writeRecipientRestrictions("permit_mynetworks", "reject_unauth_destination");
    }
    if (popBeforeSmtp)
        mainCf.appendStringValue("mynetworks", tables::POPLOCK);
    else
        mainCf.removeListElement("mynetworks", tables::POPLOCK);
}

void SettingsManager::setRBLHosts(HostIterator first, HostIterator last) {
    const MainCfManager& mainCf = MainCfManager::getInstance();
    const std::string current = mainCf.getStringValue(clientRestrictions, false);
    std::vector<std::string> items;
    for (std::string& item : splitListItems(current))
        if (item.find(rblItem) == std::string::npos)
            items.push_back(std::move(item));
    for (; first != last; ++first)
        if (!first->empty())
            items.push_back(std::string(rblItem) + " " + *first);
    mainCf.replaceStringValue(clientRestrictions, boost::algorithm::join(items, ", "));
}

void SettingsManager::addBlackDomain(BatchDatabaseHelper& batch, const std::string& domain) {
    const std::vector<std::pair<std::string, std::string>> records{
        {domain, tables::BLACKLIST_ACTION}};
    batch.addChanges(tables::BLACKLISTS, records.cbegin(), records.cend());
}

void SettingsManager::addBlackDomain(const std::string& domain) {
    BatchDatabaseHelper batch(true, true);
    addBlackDomain(batch, domain);
}

void SettingsManager::removeBlackDomain(const std::string& domain) {
    DatabaseHelper::removeRecord(tables::BLACKLISTS, domain);
}

} // namespace korvo::mail::postfix
