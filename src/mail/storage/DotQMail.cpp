#include "mail/storage/DotQMail.h"

#include "process/MKLock.h"
#include "utils/Exceptions.h"
#include "utils/FdOwner.h"
#include "utils/FileStr.h"
#include "utils/Idn.h"
#include "utils/Logging.h"
#include "utils/ReplaceFile.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <pwd.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char mailAccount[] = "popuser";
const char trueLine[] = "| true\n";
const char deliveryLine[] = "| /usr/bin/deliverquota ./Maildir";
const char oldDeliveryLine[] = "./Maildir/";
constexpr mode_t dotQmailMode = 0600;

// Gives the file popuser's user and group and mode 0600 through a
// descriptor, never through a link at path.
int setOwnerAndMode(const char* path) {
    const passwd* entry = ::getpwnam(mailAccount);
    if (entry == nullptr) {
        korvo_log(3, "user %s not found", mailAccount);
        return -1;
    }
    const korvo::FdOwner fd(::open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat st {};
    if (fd.get() >= 0 && ::fstat(fd.get(), &st) == 0 && !S_ISREG(st.st_mode))
        errno = EINVAL;
    if (fd.get() < 0 || !S_ISREG(st.st_mode) ||
        ::fchown(fd.get(), entry->pw_uid, entry->pw_gid) != 0) {
        korvo_log(3, "ERROR: unable to chown %s: %s\n", path, std::strerror(errno));
        return -1;
    }
    if (::fchmod(fd.get(), dotQmailMode) != 0) {
        korvo_log(3, "ERROR: unable to chmod %s: %s\n", path, std::strerror(errno));
        return -1;
    }
    return 0;
}

// The "&ADDRESS" line of a forward, the domain in ASCII form; "" after a
// message when the address cannot be converted or would break the line.
std::string forwardLine(const char* address) {
    if (std::strpbrk(address, "\r\n") != nullptr) {
        errno = 0;
        messlog2(0, 0, "Invalid forwarding address '%s'", address);
        errno = EINVAL;
        return "";
    }
    const std::unique_ptr<char, decltype(&std::free)> ascii(idn_email_toascii(address), &std::free);
    if (ascii == nullptr) {
        errno = 0;
        messlog2(0, 0, "idn_email_toascii(%s) failed: %s", address, idn_strerror(idn_errno));
        errno = EINVAL;
        return "";
    }
    return std::string("&") + ascii.get();
}

int appendLine(const char* path, const char* line) {
    file_str(path, line, FILE_STR_REMOVE, 0);
    if (file_str(path, line, FILE_STR_ADD, FILE_STR_END) != 0) {
        messlog2(0, 0, "Unable to add string to %s file.", path);
        return -1;
    }
    return setOwnerAndMode(path);
}

int removeLine(const char* path, const char* line) {
    if (file_str(path, line, FILE_STR_REMOVE, 0) != 0) {
        messlog2(0, 0, "Unable to remove string from %s file.", path);
        return -1;
    }
    return 0;
}

} // namespace

int dotqmail_reset(const char* path) {
    korvo::ReplaceOptions options;
    options.mode = dotQmailMode;
    try {
        const korvo::MKLock lock(path);
        std::unique_ptr<korvo::ReplaceFile> file;
        try {
            file = std::make_unique<korvo::ReplaceFile>(path, options);
        } catch (const korvo::SystemError& e) {
            errno = 0;
            messlog2(0, 0, "Unable to open %s: %s", path, std::strerror(e.code()));
            errno = e.code();
            return -1;
        }
        file->write(trueLine);
        file->commit();
    } catch (const std::exception& e) {
        // The text names the system error already; the caller gets its code.
        const auto* systemError = dynamic_cast<const korvo::SystemError*>(&e);
        errno = 0;
        messlog2(0, 0, "Unable to write to %s: %s", path, e.what());
        errno = systemError != nullptr ? systemError->code() : EIO;
        return -1;
    }
    return setOwnerAndMode(path);
}

int dotqmail_add_delivery(const char* path) {
    file_str(path, oldDeliveryLine, FILE_STR_REMOVE, 0);
    return appendLine(path, deliveryLine);
}

int dotqmail_remove_delivery(const char* path) {
    if (removeLine(path, oldDeliveryLine) != 0)
        return -1;
    file_str(path, deliveryLine, FILE_STR_REMOVE, 0);
    return setOwnerAndMode(path);
}

int dotqmail_add_forward(const char* path, const char* address) {
    const std::string line = forwardLine(address);
    if (line.empty())
        return -1;
    return appendLine(path, line.c_str());
}

int dotqmail_remove_forward(const char* path, const char* address) {
    const std::string line = forwardLine(address);
    if (line.empty() || removeLine(path, (line + "\n").c_str()) != 0)
        return -1;
    return setOwnerAndMode(path);
}
