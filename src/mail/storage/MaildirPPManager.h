// Maildir++ quotas of mailboxes and domains, the object face.
//
// MaildirPPManager is the MaildirManager singleton seen from the quota side:
// both getInstance() return the one instance, holding popuser's uid and gid.
// setMailboxQuota writes the mailbox's maildirsize itself (the quota minus
// its attachments store, see MailboxQuota.h); the domain-wide operations and
// the removal of a mailbox's own quota go through the free functions of
// DomainQuota.h, which read the panel database.
//
// Failures throw korvo::mail::FSError: "getcwd" or "chdir" with errno,
// "unable to count attachments folder size" with the store's path, "create
// maildirsize" with the Maildir's path, and "unable to store default mbox
// quota", "unable to store domain quota", "unable to remove default mbox
// quota", "unable to remove domain quota" (with the domain root) or "unable
// to remove quota" (with the mail home). The free function has printed the
// reason; the error carries the errno of the system call that failed (a
// full disk: ENOSPC) or, when none did (the panel database), no system
// error text but "see the message above".
//
// Use: MaildirPPManager::getInstance().setMailboxQuota("example.com", "info", 1048576);
#ifndef KORVO_MAIL_STORAGE_MAILDIRPPMANAGER_H
#define KORVO_MAIL_STORAGE_MAILDIRPPMANAGER_H

#include "mail/storage/MaildirManager.h"

#include <string>

namespace korvo::mail {

class MaildirPPManager : public MaildirManager {
public:
    static MaildirPPManager& getInstance();

    // quota in bytes, negative for no limit. Returns 0. The current
    // directory is the same afterwards.
    int setMailboxQuota(const std::string& domain, const std::string& mailname,
                        long long quota) const;
    // The others return the free function's result, 1.
    int setDefaultMailboxQuota(const std::string& domain, long long quota) const;
    int setDomainQuota(const std::string& domain, long long quota) const;
    int removeDefaultMailboxQuota(const std::string& domain) const;
    int removeDomainQuota(const std::string& domain) const;
    int removeMailboxQuota(const std::string& domain, const std::string& mailname) const;

private:
    MaildirPPManager() = default;
};

} // namespace korvo::mail

#endif
