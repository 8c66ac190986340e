#include "postfix/managers/SettingsManager.h"

#include "postfix/config/MainCfManager.h"
#include "postfix/tables/BatchDatabaseHelper.h"
#include "postfix/tables/DatabaseHelper.h"
#include "postfix/tables/Tables.h"

#include <boost/algorithm/string.hpp>
#include <iterator>
#include <utility>

namespace korvo::mail::postfix {

namespace {

const char* const recipientRestrictions = "smtpd_recipient_restrictions";
const char* const relayRestrictions = "smtpd_relay_restrictions";
const char* const clientRestrictions = "smtpd_client_restrictions";
const char* const rblItem = "reject_rbl_client";
// Relay restrictions of the open mode: every client passes, and the list
// still holds the working instance of reject_unauth_destination that smtpd
// insists on, which a recipient list starting with "permit" cannot give.
const char* const permitEveryClient = "check_client_access static:OK, reject_unauth_destination";

// Restarts the recipient restrictions with first, then the per-client relay
// check, then last; each step is its own postconf run.
void writeRecipientRestrictions(const std::string& first, const std::string& last) {
    const MainCfManager& mainCf = MainCfManager::getInstance();
    mainCf.replaceStringValue(recipientRestrictions, first);
    mainCf.appendCompoundStringValue(recipientRestrictions, "check_client_access",
                                     tables::NO_RELAY);
    mainCf.appendStringValue(recipientRestrictions, last);
}

// Leaves relay control to the recipient restrictions alone; called only
// once those end in reject_unauth_destination, so that an smtpd starting at
// any moment finds a working instance in one of the two lists.
void leaveRelayToRecipientRestrictions() {
    MainCfManager::getInstance().replaceStringValue(relayRestrictions, "");
}

// One comma piece of a client restriction list without its RBL checks (the
// item word and the host word after it); the other words stay.
std::string withoutRblChecks(const std::string& piece) {
    std::vector<std::string> words;
    boost::algorithm::split(words, piece, boost::algorithm::is_any_of(" \t"),
                            boost::algorithm::token_compress_on);
    std::vector<std::string> kept;
    for (auto word = words.begin(); word != words.end(); ++word) {
        if (*word != rblItem) {
            if (!word->empty())
                kept.push_back(*word);
        } else if (std::next(word) != words.end()) {
            ++word;
        }
    }
    return boost::algorithm::join(kept, " ");
}

} // namespace

void SettingsManager::setClosedRelay() {
    writeRecipientRestrictions("permit_mynetworks", "reject_unauth_destination");
    leaveRelayToRecipientRestrictions();
}

void SettingsManager::setOpenRelay() {
    // First, so that the recipient list may start with "permit".
    MainCfManager::getInstance().replaceStringValue(relayRestrictions, permitEveryClient);
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
        leaveRelayToRecipientRestrictions();
    } else if (!smtpAuth) {
        mainCf.replaceStringValue("smtpd_sasl_auth_enable", "no");
        writeRecipientRestrictions("permit_mynetworks", "reject_unauth_destination");
        leaveRelayToRecipientRestrictions();
    }
    if (popBeforeSmtp)
        mainCf.appendStringValue("mynetworks", tables::POPLOCK);
    else
        mainCf.removeListElement("mynetworks", tables::POPLOCK);
}

void SettingsManager::setRBLHosts(HostIterator first, HostIterator last) {
    MainCfManager::getInstance().editValue(clientRestrictions, [first, last](std::string& value) {
        std::vector<std::string> items;
        for (const std::string& piece : splitListItems(value)) {
            std::string kept = withoutRblChecks(piece);
            if (!kept.empty())
                items.push_back(std::move(kept));
        }
        for (HostIterator host = first; host != last; ++host)
            if (!host->empty())
                items.push_back(std::string(rblItem) + " " + *host);
        value = boost::algorithm::join(items, ", ");
        return true;
    });
}

void SettingsManager::addBlackDomain(BatchDatabaseHelper& batch, const std::string& domain) {
    const std::vector<std::pair<std::string, std::string>> records{
        {domain, tables::BLACKLIST_ACTION}};
    batch.addChanges(tables::BLACKLISTS, records.cbegin(), records.cend());
}

void SettingsManager::addBlackDomain(const std::string& domain) {
    BatchDatabaseHelper batch(INCREMENTAL, IMMEDIATE);
    addBlackDomain(batch, domain);
}

void SettingsManager::removeBlackDomain(const std::string& domain) {
    DatabaseHelper::removeRecord(tables::BLACKLISTS, domain);
}

} // namespace korvo::mail::postfix
