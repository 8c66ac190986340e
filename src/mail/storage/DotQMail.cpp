#include "mail/storage/DotQMail.h"

#include "process/MKLock.h"
#include "utils/Exceptions.h"
#include "utils/FdOwner.h"
#include "utils/Idn.h"
#include "utils/Logging.h"
#include "utils/MallocOwners.h"
#include "utils/ReplaceFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <pwd.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

const char mailAccount[] = "popuser";
const char trueLine[] = "| true";
const char deliveryLine[] = "| /usr/bin/deliverquota ./Maildir";
const char oldDeliveryLine[] = "./Maildir/";
constexpr mode_t dotQmailMode = 0600;

// The mail account's ids; false after a message when it is missing.
bool mailAccountIds(uid_t& uid, gid_t& gid) {
    const passwd* entry = ::getpwnam(mailAccount);
    if (entry == nullptr) {
        korvo_log(LOG_LEVEL_ERROR, "user %s not found", mailAccount);
        return false;
    }
    uid = entry->pw_uid;
    gid = entry->pw_gid;
    return true;
}

// Reports a failure with the system error it carries; errno is its code.
int failed(const char* what, const char* path, int code) {
    errno = 0;
    messlog2(0, 0, "%s %s: %s", what, path, std::strerror(code));
    errno = code;
    return -1;
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
    const korvo::MallocString ascii(idn_email_toascii(address));
    if (ascii == nullptr) {
        errno = 0;
        messlog2(0, 0, "idn_email_toascii(%s) failed: %s", address, idn_strerror(idn_errno));
        errno = EINVAL;
        return "";
    }
    return std::string("&") + ascii.get();
}

// Reads the whole file without following a link at path; a missing file
// reads as empty when missingIsEmpty. Returns 0, or the error code.
int readLines(const char* path, bool missingIsEmpty, std::vector<std::string>& lines) {
    korvo::FdOwner fd(::open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0)
        return errno == ENOENT && missingIsEmpty ? 0 : errno;
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0)
        return errno;
    if (!S_ISREG(st.st_mode))
        return EINVAL;
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return errno;
        if (got == 0)
            break;
        text.append(buffer, static_cast<std::size_t>(got));
    }
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return 0;
}

// Replaces the file by the lines, popuser's with mode 0600 from the moment
// it appears under its name. Returns 0, or the error code.
int writeLines(const char* path, const std::vector<std::string>& lines) {
    korvo::ReplaceOptions options;
    options.mode = dotQmailMode;
    if (!mailAccountIds(options.uid, options.gid))
        return ENOENT;
    try {
        korvo::ReplaceFile file(path, options);
        std::string text;
        for (const std::string& line : lines)
            text += line + '\n';
        file.write(text);
        file.commit();
    } catch (const korvo::SystemError& e) {
        return e.code();
    }
    return 0;
}

// What one change does to the lines: drops every line equal to one of
// dropped, then appends added unless it is empty.
struct LineChange {
    std::vector<std::string> dropped;
    std::string added;
};

enum MissingFile { MissingFails, MissingIsEmpty };

// Every change is one locked read, one change in memory and one
// replacement: the delivery agent, reading without the lock, sees the old
// file or the new one, never a moment without a line both have.
int changeLines(const char* path, const LineChange& change, MissingFile missing) {
    try {
        const korvo::MKLock lock(path);
        std::vector<std::string> lines;
        if (const int code = readLines(path, missing == MissingIsEmpty, lines))
            return failed("Unable to read", path, code);
        lines.erase(std::remove_if(lines.begin(), lines.end(),
                                   [&change](const std::string& line) {
                                       return std::find(change.dropped.begin(),
                                                        change.dropped.end(),
                                                        line) != change.dropped.end();
                                   }),
                    lines.end());
        if (!change.added.empty())
            lines.push_back(change.added);
        if (const int code = writeLines(path, lines))
            return failed("Unable to write", path, code);
    } catch (const korvo::SystemError& e) {
        return failed("Unable to lock", path, e.code());
    }
    return 0;
}

} // namespace

int dotqmail_reset(const char* path) {
    try {
        const korvo::MKLock lock(path);
        if (const int code = writeLines(path, {trueLine}))
            return failed("Unable to write", path, code);
    } catch (const korvo::SystemError& e) {
        return failed("Unable to lock", path, e.code());
    }
    return 0;
}

int dotqmail_add_delivery(const char* path) {
    return changeLines(path, {{oldDeliveryLine, deliveryLine}, deliveryLine}, MissingIsEmpty);
}

int dotqmail_remove_delivery(const char* path) {
    return changeLines(path, {{oldDeliveryLine, deliveryLine}, ""}, MissingFails);
}

int dotqmail_add_forward(const char* path, const char* address) {
    const std::string line = forwardLine(address);
    if (line.empty())
        return -1;
    return changeLines(path, {{line}, line}, MissingIsEmpty);
}

int dotqmail_remove_forward(const char* path, const char* address) {
    const std::string line = forwardLine(address);
    if (line.empty())
        return -1;
    return changeLines(path, {{line}, ""}, MissingFails);
}
