#include "deliver/MailHome.h"

#include "deliver/DeliveryFailure.h"
#include "utils/ForkExec.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace korvo::deliver {

namespace {

constexpr off_t MAX_DOT_QMAIL_SIZE = 65536;
const char* const MAILDIR_SUFFIX = "Maildir/";

[[noreturn]] void deferOnError(const std::string& what, int error) {
    deferDelivery(what + ": " + std::strerror(error));
}

bool safeComponent(const std::string& component) {
    return !component.empty() && component != "." && component != ".." &&
           component.find('/') == std::string::npos;
}

enum class Lookup { Found, Absent, Unusable };

// "postmap -q": Found with the value, Absent when postmap exits 1 silently,
// Unusable on any other outcome.
Lookup lookupMailbox(const std::string& recipient, const std::string& table, std::string& value) {
    const char* const argv[] = {"postmap", "-q", recipient.c_str(), table.c_str(), nullptr};
    char* out = nullptr;
    char* err = nullptr;
    const int status =
        fork_execv_getouterr(&out, &err, "/usr/sbin/postmap", const_cast<char* const*>(argv));
    value = out != nullptr ? out : "";
    const bool quiet = err == nullptr || err[0] == '\0';
    std::free(out);
    std::free(err);
    while (!value.empty() && (value.back() == '\n' || value.back() == ' '))
        value.pop_back();
    if (status == 0)
        return Lookup::Found;
    return status == 1 && quiet ? Lookup::Absent : Lookup::Unusable;
}

// The home of a table value "domain/mailname/Maildir/".
std::string homeFromMailboxPath(const std::string& value, const std::string& mailRoot) {
    const std::string::size_type suffix = value.size() - std::strlen(MAILDIR_SUFFIX);
    const bool shaped = value.size() > std::strlen(MAILDIR_SUFFIX) &&
                        value.compare(suffix, std::string::npos, MAILDIR_SUFFIX) == 0 &&
                        value[0] != '/' && value.find("..") == std::string::npos;
    if (!shaped)
        deferDelivery("unexpected mailbox path \"" + value + "\" in the mailbox table");
    return mailRoot + "/" + value.substr(0, suffix - 1);
}

std::string homeByLayout(const std::string& recipient, const std::string& mailRoot) {
    const std::string::size_type at = recipient.rfind('@');
    const std::string mailname = recipient.substr(0, at == std::string::npos ? 0 : at);
    const std::string domain = at == std::string::npos ? "" : recipient.substr(at + 1);
    if (!safeComponent(mailname) || !safeComponent(domain))
        deferDelivery("cannot derive a mail home from the address \"" + recipient + "\"");
    return mailRoot + "/" + domain + "/" + mailname;
}

} // namespace

std::string findMailHome(const std::string& recipient, const std::string& mailRoot,
                         const std::string& mailboxTable) {
    std::string value;
    switch (lookupMailbox(recipient, mailboxTable, value)) {
    case Lookup::Found:
        return homeFromMailboxPath(value, mailRoot);
    case Lookup::Absent:
        throw DeliveryFailure(DeliveryFailure::NoSuchMailbox, "no mailbox for " + recipient);
    case Lookup::Unusable:
        break;
    }
    return homeByLayout(recipient, mailRoot);
}

int openMailHome(const std::string& home) {
    const int fd = ::open(home.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        deferOnError("cannot open the mail home " + home, errno);
    struct stat st;
    if (::fstat(fd, &st) != 0 || (st.st_mode & S_IWOTH) != 0) {
        ::close(fd);
        deferDelivery("the mail home " + home + " is writable by others");
    }
    return fd;
}

std::string readDotQmail(int homeFd, const std::string& home) {
    const std::string path = home + "/.qmail";
    FdOwner fd(::openat(homeFd, ".qmail", O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0)
        deferOnError("cannot open " + path, errno);
    struct stat st;
    if (::fstat(fd.get(), &st) != 0)
        deferOnError("cannot examine " + path, errno);
    if (!S_ISREG(st.st_mode) || (st.st_mode & S_IWOTH) != 0 || st.st_size > MAX_DOT_QMAIL_SIZE)
        deferDelivery(path + " is not a regular file of at most 64 KiB closed to others");
    std::string content(static_cast<std::size_t>(st.st_size), '\0');
    std::size_t got = 0;
    while (got < content.size()) {
        const ssize_t n = ::read(fd.get(), content.data() + got, content.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            deferOnError("cannot read " + path, errno);
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    content.resize(got);
    return content;
}

} // namespace korvo::deliver
