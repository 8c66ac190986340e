#include "deliver/MailHome.h"

#include "deliver/DeliveryFailure.h"
#include "utils/DirOwner.h"
#include "utils/FileCopy.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

namespace korvo::deliver {

namespace {

constexpr off_t MAX_DOT_QMAIL_SIZE = 65536;

[[noreturn]] void deferOnError(const std::string& what, int error) {
    deferDelivery(what + ": " + std::strerror(error));
}

bool safeComponent(const std::string& component) {
    return !component.empty() && component != "." && component != ".." &&
           component.find('/') == std::string::npos;
}

std::string lowerCase(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

// True when name is an entry of the directory open as dirFd; a failure
// other than its absence defers.
bool hasEntry(int dirFd, const std::string& name, const std::string& shownDirectory) {
    struct stat st {};
    if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)
        return true;
    if (errno != ENOENT)
        deferOnError("cannot examine " + shownDirectory + "/" + name, errno);
    return false;
}

// The entry of the directory that is name but for the case of its letters;
// "" when none is.
std::string entryIgnoringCase(int dirFd, const std::string& name,
                              const std::string& shownDirectory) {
    const DirOwner listing =
        DirOwner::fromDescriptor(::openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (listing.get() == nullptr)
        deferOnError("cannot list " + shownDirectory, errno);
    std::string found;
    errno = 0;
    while (const dirent* entry = ::readdir(listing.get())) {
        if (::strcasecmp(entry->d_name, name.c_str()) != 0)
            continue;
        if (!found.empty())
            deferDelivery(shownDirectory + " holds both " + found + " and " + entry->d_name);
        found = entry->d_name;
    }
    if (errno != 0)
        deferOnError("cannot list " + shownDirectory, errno);
    return found;
}

// The entry for name: itself, its lower-case form, or the one entry equal
// but for case; "" when there is none.
std::string findEntry(int dirFd, const std::string& name, const std::string& shownDirectory) {
    if (!safeComponent(name))
        return "";
    if (hasEntry(dirFd, name, shownDirectory))
        return name;
    const std::string lower = lowerCase(name);
    if (lower != name && hasEntry(dirFd, lower, shownDirectory))
        return lower;
    return entryIgnoringCase(dirFd, name, shownDirectory);
}

int openDirectory(int dirFd, const std::string& name, const std::string& path) {
    const int fd = ::openat(dirFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        deferOnError("cannot open " + path, errno);
    return fd;
}

} // namespace

std::string findMailHome(const std::string& recipient, const std::string& mailRoot,
                         const std::string& delimiters) {
    const std::string::size_type at = recipient.rfind('@');
    if (at == std::string::npos)
        deferDelivery("the recipient \"" + recipient + "\" has no domain");
    const std::string local = recipient.substr(0, at);
    const FdOwner root(openDirectory(AT_FDCWD, mailRoot, mailRoot));
    const std::string domain = findEntry(root.get(), recipient.substr(at + 1), mailRoot);
    if (domain.empty())
        deferDelivery("no mail domain for " + recipient + " below " + mailRoot);
    const std::string domainPath = mailRoot + "/" + domain;
    const FdOwner domainDir(openDirectory(root.get(), domain, domainPath));
    std::string mailname = findEntry(domainDir.get(), local, domainPath);
    const std::string::size_type extension = local.find_first_of(delimiters);
    if (mailname.empty() && extension != std::string::npos && extension > 0)
        mailname = findEntry(domainDir.get(), local.substr(0, extension), domainPath);
    if (mailname.empty())
        deferDelivery("no mail home for " + recipient + " below " + domainPath);
    return domainPath + "/" + mailname;
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
    std::string content;
    if (!readAll(fd.get(), content, static_cast<std::size_t>(MAX_DOT_QMAIL_SIZE)))
        deferOnError("cannot read " + path, errno);
    return content;
}

} // namespace korvo::deliver
