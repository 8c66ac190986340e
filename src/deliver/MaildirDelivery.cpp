#include "deliver/MaildirDelivery.h"

#include "deliver/DeliveryFailure.h"
#include "mail/storage/DeliveryQuota.h"
#include "utils/FdOwner.h"
#include "utils/FileCopy.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <sstream>
#include <sys/time.h>
#include <unistd.h>

namespace korvo::deliver {

namespace {

// What deliverquota says of a full mailbox.
const char* const OVER_QUOTA = "Mail quota exceeded.";

[[noreturn]] void deferOnError(const std::string& what, const std::string& path) {
    deferDelivery(what + " " + path + ": " + std::strerror(errno));
}

// The host name with the two characters Maildir names reserve escaped.
std::string maildirHostName() {
    char host[256] = "localhost";
    ::gethostname(host, sizeof host - 1);
    host[sizeof host - 1] = '\0';
    std::string escaped;
    for (const char* c = host; *c != '\0'; ++c) {
        if (*c == '/')
            escaped += "\\057";
        else if (*c == ':')
            escaped += "\\072";
        else
            escaped += *c;
    }
    return escaped;
}

int openDirectoryAt(int parent, const std::string& name, const std::string& path) {
    const int fd = ::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        deferOnError("cannot open the directory", path);
    return fd;
}

// The Maildir's directory, walked one component at a time from the home.
int openMaildir(int homeFd, const std::string& home, const std::string& maildir) {
    std::istringstream components(maildir);
    std::string component;
    std::string path = home;
    FdOwner current;
    current.borrow(homeFd);
    while (std::getline(components, component, '/')) {
        path += "/" + component;
        current.seize(openDirectoryAt(current.get(), component, path));
    }
    return current.release();
}

// Removes a file from tmp unless it was handed on.
class TmpEntry {
public:
    TmpEntry(int dirFd, std::string name) : dirFd_(dirFd), name_(std::move(name)) {}
    ~TmpEntry() { ::unlinkat(dirFd_, name_.c_str(), 0); }
    TmpEntry(const TmpEntry&) = delete;
    TmpEntry& operator=(const TmpEntry&) = delete;

private:
    int dirFd_;
    std::string name_;
};

// A copy of the message written under name into tmp, flushed and linked
// into new.
void copyIntoNew(int tmpFd, int newFd, const std::string& base, const std::string& name,
                 const SpooledMessage& message) {
    const std::string tmpPath = base + "tmp/" + name;
    FdOwner file(
        ::openat(tmpFd, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (file.get() < 0)
        deferOnError("cannot create", tmpPath);
    const TmpEntry entry(tmpFd, name);
    const FdOwner reader(message.openReader());
    if (!copyAll(reader.get(), file.get(), nullptr))
        deferOnError("cannot write", tmpPath);
    if (::fsync(file.get()) != 0)
        deferOnError("cannot flush", tmpPath);
    if (file.close_nothrow() != 0)
        deferOnError("cannot close", tmpPath);
    if (::linkat(tmpFd, name.c_str(), newFd, name.c_str(), 0) != 0)
        deferOnError("cannot link into", base + "new/" + name);
}

} // namespace

std::string uniqueMaildirName(off_t size, unsigned count) {
    struct timeval now {};
    ::gettimeofday(&now, nullptr);
    return std::to_string(now.tv_sec) + ".M" + std::to_string(now.tv_usec) + "P" +
           std::to_string(::getpid()) + "Q" + std::to_string(count) + "." + maildirHostName() +
           ",S=" + std::to_string(size);
}

int openMaildirTmp(int homeFd, const std::string& home, const std::string& maildir) {
    const FdOwner dir(openMaildir(homeFd, home, maildir));
    return openDirectoryAt(dir.get(), "tmp", home + "/" + maildir + "tmp");
}

std::string deliverToMaildir(int homeFd, const std::string& home, const std::string& maildir,
                             const SpooledMessage& message) {
    static unsigned deliveries = 0;
    const std::string base = home + "/" + maildir;
    const FdOwner dir(openMaildir(homeFd, home, maildir));
    mail::DeliveryQuota quota(dir.get(), base);
    if (!quota.admits(message.size())) {
        // deliverquota's own words first, which senders and logs know.
        std::cerr << OVER_QUOTA << std::endl;
        bounceDelivery("the Maildir " + base + " is over its quota");
    }
    const FdOwner fresh(openDirectoryAt(dir.get(), "new", base + "new"));
    const std::string name = uniqueMaildirName(message.size(), ++deliveries);
    // A spooled message on this file system, flushed, only needs its name.
    if (!message.linkAt(fresh.get(), name)) {
        const FdOwner tmp(openDirectoryAt(dir.get(), "tmp", base + "tmp"));
        copyIntoNew(tmp.get(), fresh.get(), base, name, message);
    }
    if (::fsync(fresh.get()) != 0)
        deferOnError("cannot flush", base + "new");
    quota.record(message.size());
    return name;
}

} // namespace korvo::deliver
