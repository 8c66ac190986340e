#include "mail/storage/NoFollowFs.h"

#include "utils/Exceptions.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace korvo::mail {

namespace {

[[noreturn]] void fail(const char* operation, const std::string& path, int code) {
    throw FSError(operation, path,
                  boost::system::error_code(code, boost::system::system_category()));
}

void removeEntry(int dirFd, const char* name, const std::string& path);

// Empties the directory open as fd; the descriptor is taken over.
void removeEntries(int fd, const std::string& path) {
    DirectoryListing listing(fd);
    if (!listing.isOpen())
        fail("remove", path, errno);
    while (const dirent* entry = listing.next())
        removeEntry(listing.fd(), entry->d_name, path + "/" + entry->d_name);
    if (errno != 0)
        fail("remove", path, errno);
}

// Removes one entry of the directory dirFd. The entry is opened as a
// directory without following links; anything that does not open as one
// (a file, a link, or a directory just swapped for a link) is unlinked.
void removeEntry(int dirFd, const char* name, const std::string& path) {
    const int child = openDirectoryAt(dirFd, name);
    if (child < 0) {
        if (errno == ENOENT)
            return;
        if (errno != ELOOP && errno != ENOTDIR)
            fail("remove", path, errno);
        if (::unlinkat(dirFd, name, 0) != 0 && errno != ENOENT)
            fail("remove", path, errno);
        return;
    }
    removeEntries(child, path);
    if (::unlinkat(dirFd, name, AT_REMOVEDIR) != 0 && errno != ENOENT)
        fail("remove", path, errno);
}

// The directory part of path, and the last component.
std::pair<std::string, std::string> splitLast(const std::string& path) {
    std::string::size_type end = path.find_last_not_of('/');
    if (end == std::string::npos)
        return {"/", "."};
    const std::string trimmed = path.substr(0, end + 1);
    const std::string::size_type slash = trimmed.rfind('/');
    if (slash == std::string::npos)
        return {".", trimmed};
    return {slash == 0 ? "/" : trimmed.substr(0, slash), trimmed.substr(slash + 1)};
}

} // namespace

bool isDotOrDotDot(const char* name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

DirectoryListing::DirectoryListing(int fd)
    : dir_(fd < 0 ? DirOwner(nullptr) : DirOwner::fromDescriptor(fd)) {}

const dirent* DirectoryListing::next() {
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir_.get());
        if (entry == nullptr || !isDotOrDotDot(entry->d_name))
            return entry;
    }
}

bool DirectoryListing::close() {
    return dir_.close() == 0;
}

int openDirectoryAt(int dirFd, const char* name) {
    int fd;
    do
        fd = ::openat(dirFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    return fd;
}

FdOwner openDirectoryOrThrow(int dirFd, const std::string& name, const std::string& shownPath) {
    const int fd = openDirectoryAt(dirFd, name.c_str());
    if (fd < 0)
        fail("open", shownPath, errno);
    return FdOwner(fd);
}

void setOwnerAndMode(int fd, uid_t uid, gid_t gid, mode_t mode, const std::string& path) {
    int rc;
    do
        rc = ::fchown(fd, uid, gid);
    while (rc != 0 && errno == EINTR);
    if (rc != 0)
        fail("chown", path, errno);
    do
        rc = ::fchmod(fd, mode);
    while (rc != 0 && errno == EINTR);
    if (rc != 0)
        fail("chmod", path, errno);
}

void removeTree(const std::string& path) {
    const std::pair<std::string, std::string> parts = splitLast(path);
    if (isDotOrDotDot(parts.second.c_str()))
        fail("remove", path, EINVAL);
    const FdOwner parent(::open(parts.first.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (parent.get() < 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return;
        fail("remove", path, errno);
    }
    removeEntry(parent.get(), parts.second.c_str(), path);
}

bool existsNoFollow(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0)
        return true;
    if (errno == ENOENT || errno == ENOTDIR)
        return false;
    fail("lstat", path, errno);
}

} // namespace korvo::mail
