// File-system steps inside directories that the mail account can write.
//
// Mail homes and everything below them belong to popuser, so anything
// running as that account can replace a file or directory by a symbolic
// link at any moment, while this tool runs as root. These helpers act
// through directory descriptors and never follow a link at the name they act
// on: directories are opened with O_NOFOLLOW, entries are examined with
// AT_SYMLINK_NOFOLLOW, links are removed as links.
//
// openDirectoryAt returns a raw descriptor or -1 with errno (callers wrap
// it in a korvo::FdOwner); the others throw korvo::mail::FSError naming the
// operation, the path and the system error.
#ifndef KORVO_MAIL_STORAGE_NOFOLLOWFS_H
#define KORVO_MAIL_STORAGE_NOFOLLOWFS_H

#include "utils/DirOwner.h"
#include "utils/FdOwner.h"

#include <dirent.h>
#include <string>
#include <sys/types.h>

namespace korvo::mail {

// Opens the directory name relative to dirFd (AT_FDCWD: the current
// directory) for reading, refusing a symbolic link (ELOOP) and anything
// that is no directory (ENOTDIR). Retries on EINTR.
int openDirectoryAt(int dirFd, const char* name);

// The same, throwing FSError ("open", shownPath) on failure.
FdOwner openDirectoryOrThrow(int dirFd, const std::string& name, const std::string& shownPath);

// Owner and mode of the object open as fd; EINTR is retried, other
// failures throw FSError "chown" or "chmod" with path.
void setOwnerAndMode(int fd, uid_t uid, gid_t gid, mode_t mode, const std::string& path);

// Removes path with everything below it. A symbolic link or file at path is
// unlinked itself; a directory is emptied through descriptors, so a link
// planted anywhere below is removed, never followed. A missing path and
// entries vanishing meanwhile are no error. Failures throw FSError
// ("remove", the entry concerned).
void removeTree(const std::string& path);

// True when path exists or is a symbolic link (lstat); false when it does
// not. Other failures throw FSError ("lstat", path).
bool existsNoFollow(const std::string& path);

// The entries of a directory, read through a descriptor it takes over
// (fdopendir); closed when destroyed.
class DirectoryListing {
public:
    // fd may be -1 (a failed open): the listing is then not open and errno
    // is left as the open left it.
    explicit DirectoryListing(int fd);

    bool isOpen() const { return dir_.get() != nullptr; }
    int fd() const { return dir_.fd(); }
    // The next entry other than "." and ".."; null at the end, or on a read
    // error with errno non-zero.
    const dirent* next();
    // Closes now; false with errno when closing fails.
    bool close();

private:
    DirOwner dir_;
};

// True for "." and "..".
bool isDotOrDotDot(const char* name);

} // namespace korvo::mail

#endif
