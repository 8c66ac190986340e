// Server-wide mail policies: the relay mode, POP-before-SMTP, RBL checks of
// connecting clients and the black-listed sender domains.
//
// The first three live in main.cf restriction lists and are written through
// MainCfManager; black-listed domains are records (domain, "REJECT") of the
// lookup table hash:/var/spool/postfix/korvo/blacklists.
//
// Relay control: Postfix checks smtpd_relay_restrictions before
// smtpd_recipient_restrictions, so each mode sets both. The closed and
// authenticated modes leave relay control to the recipient list (relay
// restrictions empty); the open mode permits every client in the relay
// restrictions, whose reject_unauth_destination keeps smtpd willing to run
// with a recipient list that starts with "permit". A mode is several
// postconf runs, ordered so that at every moment one of the two lists holds
// a working reject_unauth_destination: an smtpd that starts while neither
// does dies, and Postfix then pauses smtpd for a minute.
//
// Failures: postconf failures raise PostfixConfigurationError, postmap
// failures PostfixConfigurationError (adding) or PostfixDatabaseError
// (removing). A relay mode is several separate postconf writes; one that
// fails half-way leaves the earlier writes in place, so callers should
// repeat the whole operation rather than assume nothing changed.
//
// All operations are static; use SettingsManager::setClosedRelay() and so on.
#ifndef KORVO_POSTFIX_SETTINGSMANAGER_H
#define KORVO_POSTFIX_SETTINGSMANAGER_H

#include <boost/logic/tribool.hpp>
#include <string>
#include <vector>

namespace korvo::mail::postfix {

class BatchDatabaseHelper;

class SettingsManager {
public:
    using HostIterator = std::vector<std::string>::const_iterator;

    SettingsManager() = delete;

    // Relays for local networks only.
    static void setClosedRelay();
    // Relays for everybody.
    static void setOpenRelay();
    // Relays for local networks and, with smtpAuth true, for authenticated
    // clients; indeterminate leaves SMTP authentication as it is.
    // popBeforeSmtp true counts the clients of the POP-before-SMTP table as
    // local networks; false or indeterminate stops that.
    static void setAuthRelay(boost::logic::tribool smtpAuth, boost::logic::tribool popBeforeSmtp);
    // Makes [first, last) the RBL hosts checked for every client, keeping the
    // other client restrictions in order; empty hosts are skipped. Only the
    // words "reject_rbl_client HOST" are taken out of the old list, so items
    // written without commas between them survive. One read-modify-write
    // under main.cf's lock.
    static void setRBLHosts(HostIterator first, HostIterator last);

    static void addBlackDomain(BatchDatabaseHelper& batch, const std::string& domain);
    static void addBlackDomain(const std::string& domain);
    // A domain that is not listed is no error.
    static void removeBlackDomain(const std::string& domain);
};

} // namespace korvo::mail::postfix

#endif
