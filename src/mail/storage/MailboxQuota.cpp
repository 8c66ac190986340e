#include "mail/storage/MailboxQuota.h"

#include "mail/PathComponent.h"
#include "mail/storage/MailPaths.h"
#include "mail/storage/MaildirSize.h"
#include "mail/storage/WorkingDirectory.h"
#include "utils/FileUtils.h"
#include "utils/Logging.h"

#include <cerrno>
#include <cstring>
#include <string>
#include <sys/stat.h>

namespace korvo::mail {

const char attachmentsWarning[] =
    "WARNING: @attachments directory is big enough to disable delivery!";

long long attachmentsSize() {
    struct stat st {};
    if (::lstat("@attachments", &st) != 0 || !S_ISDIR(st.st_mode))
        return 0;
    return get_dir_size("@attachments", 0);
}

long long quotaAfterAttachments(long long quota, long long attachments) {
    if (quota < 0)
        return 0;
    if (quota <= attachments)
        return 1;
    return quota - attachments;
}

} // namespace korvo::mail

using namespace korvo::mail;

int store_mbox_quota(const char* domain, const char* mailname, long long quota) {
    const std::string ascii = asciiDomain(domain, true, 0);
    if (ascii.empty())
        return 0;
    errno = 0;
    if (!is_path_component(ascii.c_str()) || !is_path_component(mailname)) {
        messlog2(0, 0, "invalid mail name '%s' or domain '%s'", mailname, ascii.c_str());
        return 0;
    }
    const std::string home = mailHomePath(ascii, mailname);
    if (home.size() >= maxMailPath) {
        messlog2(0, 0, "domain and/or user name too long to be stored on the filesystem");
        return 0;
    }
    WorkingDirectory cwd;
    if (!cwd.isSaved()) {
        messlog2(0, 0, "unable to get current working directory");
        return 0;
    }
    if (!cwd.enter(home.c_str())) {
        messlog2(0, 0, "unable to change to mbox folder %s: %s", home.c_str(),
                 std::strerror(errno));
        return 0;
    }
    long long raw = quota;
    if (quota >= 0) {
        const long long attachments = attachmentsSize();
        if (attachments < 0) {
            messlog2(0, 0, "unable to count attachments folder size");
            return 0;
        }
        if (quota < attachments) {
            errno = 0;
            messlog2(0, 0, "%s", attachmentsWarning);
        }
        raw = quota < attachments ? 0 : quota - attachments;
    }
    return store_maildirpp_quota_raw("./Maildir", raw);
}
