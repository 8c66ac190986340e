#include "mail/storage/MaildirUsage.h"

#include "mail/storage/MailPaths.h"
#include "mail/storage/MaildirSizeSeams.h"
#include "mail/storage/NoFollowFs.h"
#include "utils/FdOwner.h"
#include "utils/Logging.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

namespace korvo::mail {

namespace {

const char trashFolder[] = ".Trash";
const char folderMarker[] = "/maildirfolder";

// A second descriptor of the directory open as fd, for listing it.
int reopenDirectory(int fd) {
    return ::openat(fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

// The size in the first ",S=<digits>" tag of name that ends the name or is
// followed by ":".
bool sizeTag(const char* name, long long& size) {
    for (const char* tag = std::strstr(name, ",S="); tag != nullptr;
         tag = std::strstr(tag + 1, ",S=")) {
        const char* p = tag + 3;
        long long value = 0;
        bool overflow = false;
        for (; *p >= '0' && *p <= '9'; ++p) {
            overflow = overflow || value > (LLONG_MAX - (*p - '0')) / 10;
            value = overflow ? 0 : value * 10 + (*p - '0');
        }
        if (p != tag + 3 && !overflow && (*p == '\0' || *p == ':')) {
            size = value;
            return true;
        }
    }
    return false;
}

void raiseLatest(int fd, std::time_t& latest) {
    struct stat st {};
    if (::fstat(fd, &st) == 0 && st.st_mtime > latest)
        latest = st.st_mtime;
}

// Counts the directory sub ("new" or "cur") of the folder open as folderFd.
// prefixLength: the length of the folder's path relative to the Maildir,
// with its "/" ("" for the Maildir itself).
int countSubdirectory(int folderFd, const char* sub, std::size_t prefixLength,
                      MaildirUsage& usage) {
    DirectoryListing listing(openDirectoryAt(folderFd, sub));
    if (!listing.isOpen())
        return 0;
    raiseLatest(listing.fd(), usage.latest);
    const std::size_t dirLength = prefixLength + std::strlen(sub) + 1;
    while (const dirent* entry = listing.next()) {
        if (dirLength + std::strlen(entry->d_name) >= maxMailPath) {
            errno = ENAMETOOLONG;
            return -1;
        }
        long long size = 0;
        if (!sizeTag(entry->d_name, size)) {
            seam::maildirUsageBeforeStat(listing.fd(), entry->d_name);
            struct stat st {};
            if (::fstatat(listing.fd(), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
                if (errno == ENOENT || errno == ENOTDIR)
                    continue;
                return -1;
            }
            size = st.st_size;
        }
        usage.bytes += size;
        ++usage.count;
    }
    return errno == 0 ? 0 : -1;
}

// Calls visit(name) for every Maildir++ folder of the Maildir open as
// maildirFd except ".Trash". An entry that the listing does not report as a
// directory is examined without following links; when it is no directory
// and shownPath is given, it is reported. Stops at the first non-zero
// result of visit and returns it; -1 when the Maildir cannot be listed.
int forEachFolder(int maildirFd, const char* shownPath,
                  const std::function<int(const char* name)>& visit) {
    DirectoryListing listing(reopenDirectory(maildirFd));
    if (!listing.isOpen())
        return -1;
    while (const dirent* entry = listing.next()) {
        const char* name = entry->d_name;
        if (name[0] != '.' || std::strcmp(name, trashFolder) == 0)
            continue;
        if (entry->d_type != DT_DIR) {
            struct stat st {};
            if (::fstatat(listing.fd(), name, &st, AT_SYMLINK_NOFOLLOW) != 0)
                continue;
            if (!S_ISDIR(st.st_mode)) {
                if (shownPath != nullptr)
                    messlog2(0, 0, "Bad/unrecognized entry %s within Maildir folder %s\n", name,
                             shownPath);
                continue;
            }
        }
        if (const int rc = visit(name))
            return rc;
    }
    return errno == 0 ? 0 : -1;
}

// Raises latest to the modification time of sub of the folder open as
// folderFd; false after a report when it cannot be read.
bool subdirectoryTime(int folderFd, const char* sub, std::time_t& latest) {
    struct stat st {};
    if (folderFd < 0 || ::fstatat(folderFd, sub, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        messlog2(0, 0, "Maildir subfolder '%s' stat failed", sub);
        return false;
    }
    if (st.st_mtime > latest)
        latest = st.st_mtime;
    return true;
}

// Raises latest to the times of "cur" and "new" of the folder open as
// folderFd, or leaves it when either cannot be read.
bool folderTime(int folderFd, std::time_t& latest) {
    std::time_t found = latest;
    if (!subdirectoryTime(folderFd, "cur", found) || !subdirectoryTime(folderFd, "new", found))
        return false;
    latest = found;
    return true;
}

} // namespace

int get_maildirpp_messages_usage(int maildirFd, MaildirUsage& usage) {
    if (countSubdirectory(maildirFd, "new", 0, usage) != 0 ||
        countSubdirectory(maildirFd, "cur", 0, usage) != 0)
        return -1;
    return forEachFolder(maildirFd, nullptr, [maildirFd, &usage](const char* name) {
        const std::size_t length = std::strlen(name);
        if (length + sizeof folderMarker - 1 >= maxMailPath) {
            errno = ENAMETOOLONG;
            return -1;
        }
        const FdOwner folder(openDirectoryAt(maildirFd, name));
        if (folder.get() < 0)
            return 0;
        return countSubdirectory(folder.get(), "new", length + 1, usage) != 0 ||
                       countSubdirectory(folder.get(), "cur", length + 1, usage) != 0
                   ? -1
                   : 0;
    });
}

int maildir_latest_change(int maildirFd, const char* shownPath, std::time_t& latest) {
    if (!folderTime(maildirFd, latest))
        return -1;
    const int rc = forEachFolder(maildirFd, shownPath, [maildirFd, &latest](const char* name) {
        const FdOwner folder(openDirectoryAt(maildirFd, name));
        folderTime(folder.get(), latest);
        return 0;
    });
    if (rc != 0)
        messlog2(0, 0, "Unable to open Maildir folder. Has it just been removed?");
    return rc;
}

} // namespace korvo::mail
