#include "mail/storage/MaildirManager.h"

#include "mail/PathComponent.h"
#include "mail/storage/MailPaths.h"
#include "mail/storage/MaildirPPManager.h"
#include "mail/storage/NoFollowFs.h"
#include "utils/Exceptions.h"

#include <boost/filesystem/operations.hpp>
#include <cerrno>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace korvo::mail {

namespace {

const char mailAccount[] = "popuser";

boost::system::error_code systemError(int code) {
    return boost::system::error_code(code, boost::system::system_category());
}

void checkName(const std::string& name, const std::string& root) {
    if (!is_path_component(name.c_str()))
        throw FSError("invalid name", root + "/" + name, systemError(EINVAL));
}

// The process umask for the duration of a create operation.
class UmaskGuard {
public:
    explicit UmaskGuard(mode_t mask) : old_(::umask(mask)) {}
    ~UmaskGuard() { ::umask(old_); }
    UmaskGuard(const UmaskGuard&) = delete;
    UmaskGuard& operator=(const UmaskGuard&) = delete;

private:
    mode_t old_;
};

// The directories of a mail home below the home itself, parents first.
// parent indexes the directories made so far: 0 is the home, i + 1 the
// i-th entry of this table.
struct Subdirectory {
    std::size_t parent;
    const char* name;
};
const Subdirectory homeSubdirectories[] = {
    {0, "Maildir"}, {1, "tmp"}, {1, "new"}, {1, "cur"},          {1, ".Spam"},
    {5, "tmp"},     {5, "new"}, {5, "cur"}, {0, "@attachments"},
};

constexpr std::size_t subdirectoryCount = sizeof homeSubdirectories / sizeof homeSubdirectories[0];

// The subdirectories one build made, removed again, newest first, unless
// the build completes: a failed build takes back only what it added, and
// mail in directories that were there before stays. Only empty directories
// go (rmdir), so nothing delivered meanwhile is lost.
class MadeSubdirectories {
public:
    explicit MadeSubdirectories(const FdOwner* directories) : directories_(directories) {}
    ~MadeSubdirectories() {
        while (count_ > 0 && !kept_) {
            const Subdirectory& sub = homeSubdirectories[made_[--count_]];
            ::unlinkat(directories_[sub.parent].get(), sub.name, AT_REMOVEDIR);
        }
    }
    MadeSubdirectories(const MadeSubdirectories&) = delete;
    MadeSubdirectories& operator=(const MadeSubdirectories&) = delete;

    void add(std::size_t index) { made_[count_++] = index; }
    void keep() { kept_ = true; }

private:
    const FdOwner* directories_;
    std::size_t made_[subdirectoryCount] = {};
    std::size_t count_ = 0;
    bool kept_ = false;
};

// Gives the home and its subdirectories popuser's owner and mode 0700,
// making the subdirectories that are missing.
void buildHome(const std::string& home, uid_t uid, gid_t gid) {
    FdOwner directories[subdirectoryCount + 1];
    std::string paths[subdirectoryCount + 1] = {home};
    directories[0].seize(openDirectoryOrThrow(AT_FDCWD, home, home).release());
    setOwnerAndMode(directories[0].get(), uid, gid, 0700, home);
    MadeSubdirectories made(directories);
    for (std::size_t i = 0; i < subdirectoryCount; ++i) {
        const Subdirectory& sub = homeSubdirectories[i];
        const int parent = directories[sub.parent].get();
        paths[i + 1] = paths[sub.parent] + "/" + sub.name;
        if (::mkdirat(parent, sub.name, 0700) == 0)
            made.add(i);
        else if (errno != EEXIST)
            throw FSError("create_directory", paths[i + 1], systemError(errno));
        directories[i + 1].seize(openDirectoryOrThrow(parent, sub.name, paths[i + 1]).release());
        setOwnerAndMode(directories[i + 1].get(), uid, gid, 0700, paths[i + 1]);
    }
    made.keep();
}

// True when path is a directory, not a symbolic link to one.
bool isDirectoryNoFollow(const std::string& path) {
    return FdOwner(openDirectoryAt(AT_FDCWD, path.c_str())).get() >= 0;
}

} // namespace

bool backupRename(const std::string& path, std::string& backupName) {
    struct stat st {};
    int rc;
    do
        rc = ::lstat(path.c_str(), &st);
    while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        if (errno != ENOENT && errno != ENOTDIR)
            return false;
        backupName.clear();
        return true;
    }
    backupName = path + ".KorvoSaved." + std::to_string(st.st_ino);
    boost::filesystem::rename(path, backupName);
    return true;
}

MaildirManager& MaildirManager::getInstance() {
    return MaildirPPManager::getInstance();
}

void MaildirManager::init() {
    errno = 0;
    const passwd* entry = ::getpwnam(mailAccount);
    if (entry == nullptr)
        throw SystemError(std::string("user ") + mailAccount + " not found", errno);
    uid = entry->pw_uid;
    gid = entry->pw_gid;
}

std::string MaildirManager::getDomainRoot(const std::string& domain) const {
    return mailnamesRoot() + "/" + getDomainRelativeRoot(domain);
}

std::string MaildirManager::getMailnameHome(const std::string& domain,
                                            const std::string& mailname) const {
    return mailnamesRoot() + "/" + getMailnameRelativeHome(domain, mailname);
}

std::string MaildirManager::getDomainRelativeRoot(const std::string& domain) const {
    checkName(domain, mailnamesRoot());
    return domain;
}

std::string MaildirManager::getMailnameRelativeHome(const std::string& domain,
                                                    const std::string& mailname) const {
    checkName(mailname, getDomainRoot(domain));
    return domain + "/" + mailname;
}

void MaildirManager::createDomainRoot(const std::string& domain) const {
    const std::string root = getDomainRoot(domain);
    const UmaskGuard mask(077);
    boost::filesystem::create_directories(root);
    const FdOwner fd = openDirectoryOrThrow(AT_FDCWD, root, root);
    setOwnerAndMode(fd.get(), 0, gid, 0750, root);
}

void MaildirManager::createMailnameHome(const std::string& domain,
                                        const std::string& mailname) const {
    const std::string home = getMailnameHome(domain, mailname);
    const UmaskGuard mask(077);
    const bool existed = existsNoFollow(home);
    try {
        boost::filesystem::create_directories(home);
        buildHome(home, uid, gid);
    } catch (...) {
        // A home that was there before holds mail: buildHome took back
        // what it added, the rest stays.
        if (existed)
            throw;
        const int code = errno;
        try {
            removeTree(home);
        } catch (const std::exception&) {
            // The first error is the one to report.
        }
        errno = code;
        throw;
    }
}

void MaildirManager::renameDomainRoot(const std::string& oldDomain,
                                      const std::string& newDomain) const {
    boost::filesystem::rename(getDomainRoot(oldDomain), getDomainRoot(newDomain));
}

void MaildirManager::renameMailnameHome(const std::string& domain, const std::string& oldMailname,
                                        const std::string& newMailname) const {
    const std::string from = getMailnameHome(domain, oldMailname);
    const std::string to = getMailnameHome(domain, newMailname);
    // A run killed right after this rename left the home under its new
    // name; the run repeating the rename carries on from there.
    if (!existsNoFollow(from) && isDirectoryNoFollow(to))
        return;
    boost::filesystem::rename(from, to);
}

void MaildirManager::backup(const std::string& directory) const {
    std::string backupName;
    try {
        if (backupRename(directory, backupName))
            return;
    } catch (const boost::filesystem::filesystem_error& e) {
        throw FSError("rename", directory, backupName, e.code());
    }
    throw FSError("rename", directory, backupName, systemError(errno));
}

void MaildirManager::backupDomainRoot(const std::string& domain) const {
    backup(getDomainRoot(domain));
}

void MaildirManager::backupMailnameHome(const std::string& domain,
                                        const std::string& mailname) const {
    backup(getMailnameHome(domain, mailname));
}

void MaildirManager::removeDomainRoot(const std::string& domain) const {
    const std::string root = getDomainRoot(domain);
    std::string target = root;
    try {
        std::string backupName;
        if (backupRename(root, backupName))
            target = backupName;
    } catch (const std::exception&) {
        // Not moved aside: remove it where it is.
    }
    if (!target.empty() && existsNoFollow(target))
        removeTree(target);
}

void MaildirManager::removeMailnameHome(const std::string& domain,
                                        const std::string& mailname) const {
    const std::string home = getMailnameHome(domain, mailname);
    if (existsNoFollow(home))
        removeTree(home);
}

} // namespace korvo::mail
