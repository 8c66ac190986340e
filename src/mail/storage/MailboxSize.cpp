#include "mail/storage/MailboxSize.h"

#include "mail/PathComponent.h"
#include "mail/storage/MailPaths.h"
#include "mail/storage/MaildirSize.h"
#include "utils/FileUtils.h"
#include "utils/Logging.h"

#include <cerrno>
#include <cstring>
#include <string>

using namespace korvo::mail;

long long get_mbox_size(const char* mailname, const char* domain, int blocks) {
    const std::string ascii = asciiDomain(domain, false, 1);
    errno = 0;
    if (!is_path_component(ascii.c_str()) || !is_path_component(mailname))
        messlog2(1, 0, "invalid mail name '%s' or domain '%s'", mailname, ascii.c_str());
    const std::string home = mailHomePath(ascii, mailname);
    const std::string attachmentsPath = home + "/@attachments";
    if (attachmentsPath.size() >= maxMailPath)
        messlog2(1, 0, "user mailbox path is too long");
    const long long attachments = get_dir_size(attachmentsPath.c_str(), blocks);
    long long bytes = 0;
    unsigned long long count = 0;
    if (get_maildirpp_usage((home + "/Maildir").c_str(), &bytes, &count) != 0)
        messlog2(1, 0, "Unable to calculate Maildir++ size: %s", std::strerror(errno));
    return (attachments < 0 ? 0 : attachments) + bytes;
}
