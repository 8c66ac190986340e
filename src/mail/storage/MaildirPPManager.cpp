#include "mail/storage/MaildirPPManager.h"

#include "mail/storage/DomainQuota.h"
#include "mail/storage/MailboxQuota.h"
#include "mail/storage/MaildirSize.h"
#include "mail/storage/WorkingDirectory.h"
#include "utils/Exceptions.h"

#include <cerrno>
#include <iostream>

namespace korvo::mail {

namespace {

boost::system::error_code systemError(int code) {
    return boost::system::error_code(code, boost::system::system_category());
}

// The free functions have printed why they failed: the error carries no
// system error of its own.
int checked(int result, const char* operation, const std::string& path) {
    if (result == 0)
        throw FSError(operation, path, systemError(0));
    return result;
}

} // namespace

MaildirPPManager& MaildirPPManager::getInstance() {
    static MaildirPPManager instance;
    instance.init();
    return instance;
}

int MaildirPPManager::setMailboxQuota(const std::string& domain, const std::string& mailname,
                                      long long quota) const {
    const std::string home = getMailnameHome(domain, mailname);
    WorkingDirectory cwd;
    if (!cwd.isSaved())
        throw FSError("getcwd", systemError(errno));
    if (!cwd.enter(home.c_str()))
        throw FSError("chdir", home, systemError(errno));
    long long attachments = 0;
    if (quota >= 0) {
        attachments = attachmentsSize();
        if (attachments < 0)
            throw FSError("unable to count attachments folder size", home + "/@attachments",
                          systemError(0));
        if (quota < attachments)
            std::cerr << attachmentsWarning << std::endl;
    }
    checked(write_maildirpp_maildirsize("Maildir", getUid(), getGid(),
                                        quotaAfterAttachments(quota, attachments), 0),
            "create maildirsize", home + "/Maildir");
    return 0;
}

int MaildirPPManager::setDefaultMailboxQuota(const std::string& domain, long long quota) const {
    return checked(store_default_mbox_quota(domain.c_str(), quota),
                   "unable to store default mbox quota", getDomainRoot(domain));
}

int MaildirPPManager::setDomainQuota(const std::string& domain, long long quota) const {
    return checked(store_domain_quota(domain.c_str(), quota), "unable to store domain quota",
                   getDomainRoot(domain));
}

int MaildirPPManager::removeDefaultMailboxQuota(const std::string& domain) const {
    return checked(rm_default_mbox_quota(domain.c_str()), "unable to remove default mbox quota",
                   getDomainRoot(domain));
}

int MaildirPPManager::removeDomainQuota(const std::string& domain) const {
    return checked(rm_domain_quota(domain.c_str()), "unable to remove domain quota",
                   getDomainRoot(domain));
}

int MaildirPPManager::removeMailboxQuota(const std::string& domain,
                                         const std::string& mailname) const {
    return checked(rm_mbox_quota(domain.c_str(), mailname.c_str()), "unable to remove quota",
                   getMailnameHome(domain, mailname));
}

} // namespace korvo::mail
