// Files without a name: a message spooled or replaced while it is worked on
// leaves nothing behind however the program ends.
//
// createUnnamedFile makes one with O_TMPFILE in a directory (given by path
// or by descriptor); where the file system has no unnamed files, it makes a
// named file with O_CREAT|O_EXCL|O_NOFOLLOW and removes the name at once,
// so a link planted in a directory another account can write is never
// followed. reopenForReading gives a new read-only descriptor at the first
// byte of the same file, and selfPath names the file for linkat. Failures
// raise korvo::SystemError naming the operation and the directory.
#ifndef KORVO_UTILS_UNNAMEDFILE_H
#define KORVO_UTILS_UNNAMEDFILE_H

#include <string>

namespace korvo {

// A read-write file without a name in directory.
int createUnnamedFile(const std::string& directory);
// The same in the directory open as directoryFd (shownDirectory in errors).
int createUnnamedFileAt(int directoryFd, const std::string& shownDirectory);

// A new read-only descriptor at the first byte of the file behind fd.
int reopenForReading(int fd);

// "/proc/self/fd/FD": the file behind fd, for linkat with AT_SYMLINK_FOLLOW.
std::string selfPath(int fd);

} // namespace korvo

#endif
