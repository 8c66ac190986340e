#include "mail/storage/MaildirPPManager.h"

#include "mail/storage/DomainQuota.h"
#include "mail/storage/MailboxQuota.h"
#include "mail/storage/MaildirSize.h"
#include "mail/storage/WorkingDirectory.h"
#include "utils/Exceptions.h"

#include <cerrno>
#include <functional>
#include <iostream>
#include <string>

namespace korvo::mail {

namespace {

boost::system::error_code systemError(int code) {
    return boost::system::error_code(code, boost::system::system_category());
}

// Failures the quota functions report themselves without a failed system
// call behind them (the panel database, a domain it does not know): their
// error names no system error, it points at that message.
class ReportedFailureCategory : public boost::system::error_category {
public:
    const char* name() const noexcept override { return "vornctl quota"; }
    std::string message(int) const override { return "see the message above"; }
};

boost::system::error_code failureCode(int code) {
    static const ReportedFailureCategory reported;
    return code != 0 ? systemError(code) : boost::system::error_code(1, reported);
}

// Runs one free function, which prints why it failed; its failure (0)
// becomes FSError with the errno of the system call that failed, if any.
int checked(const std::function<int()>& call, const char* operation, const std::string& path) {
    errno = 0;
    const int result = call();
    if (result == 0)
        throw FSError(operation, path, failureCode(errno));
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
        errno = 0;
        attachments = attachmentsSize();
        if (attachments < 0)
            throw FSError("unable to count attachments folder size", home + "/@attachments",
                          failureCode(errno));
        if (quota < attachments)
            std::cerr << attachmentsWarning << std::endl;
    }
    const long long value = quotaAfterAttachments(quota, attachments);
    checked([&] { return write_maildirpp_maildirsize("Maildir", getUid(), getGid(), value, 0); },
            "create maildirsize", home + "/Maildir");
    return 0;
}

int MaildirPPManager::setDefaultMailboxQuota(const std::string& domain, long long quota) const {
    return checked([&] { return store_default_mbox_quota(domain.c_str(), quota); },
                   "unable to store default mbox quota", getDomainRoot(domain));
}

int MaildirPPManager::setDomainQuota(const std::string& domain, long long quota) const {
    return checked([&] { return store_domain_quota(domain.c_str(), quota); },
                   "unable to store domain quota", getDomainRoot(domain));
}

int MaildirPPManager::removeDefaultMailboxQuota(const std::string& domain) const {
    return checked([&] { return rm_default_mbox_quota(domain.c_str()); },
                   "unable to remove default mbox quota", getDomainRoot(domain));
}

int MaildirPPManager::removeDomainQuota(const std::string& domain) const {
    return checked([&] { return rm_domain_quota(domain.c_str()); }, "unable to remove domain quota",
                   getDomainRoot(domain));
}

int MaildirPPManager::removeMailboxQuota(const std::string& domain,
                                         const std::string& mailname) const {
    return checked([&] { return rm_mbox_quota(domain.c_str(), mailname.c_str()); },
                   "unable to remove quota", getMailnameHome(domain, mailname));
}

} // namespace korvo::mail
