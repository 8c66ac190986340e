#include "utils/FileUtils.h"

#include "utils/DirOwner.h"
#include "utils/Exceptions.h"
#include "utils/FdOwner.h"
#include "utils/Locks.h"
#include "utils/Logging.h"
#include "utils/ReplaceFile.h"
#include "utils/StdioFile.h"
#include "utils/StringUtils.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <new>
#include <pwd.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

int openRetrying(const char* path, int flags, mode_t mode = 0) {
    int fd;
    do
        fd = ::open(path, flags | O_CLOEXEC, mode);
    while (fd < 0 && errno == EINTR);
    return fd;
}

ssize_t readRetrying(int fd, char* buffer, std::size_t size) {
    ssize_t n;
    do
        n = ::read(fd, buffer, size);
    while (n < 0 && errno == EINTR);
    return n;
}

// Writes all of buffer; a write of 0 bytes is tried again.
bool writeAll(int fd, const char* buffer, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, buffer, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        buffer += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

constexpr std::size_t copyBufferSize = 65536;

// 0 on success; otherwise what failed: 'r' reading, 'w' writing.
char copyContent(int from, int to) {
    char buffer[copyBufferSize];
    for (;;) {
        const ssize_t n = readRetrying(from, buffer, sizeof buffer);
        if (n < 0)
            return 'r';
        if (n == 0)
            return 0;
        if (!writeAll(to, buffer, static_cast<std::size_t>(n)))
            return 'w';
    }
}

// Copies the open source into a new file that replaces target (see
// ReplaceFile.h); 'r' or 'w' as copyContent, 'o' when the copy could not be
// created, 'c' when it could not be put in place, 0 on success. errno
// tells why.
char replaceWithCopy(int from, const char* target, const korvo::ReplaceOptions& options) {
    char step = 'o';
    try {
        korvo::ReplaceFile out(target, options);
        if (const char failed = copyContent(from, out.fd()))
            return failed;
        step = 'c';
        out.commit();
        return 0;
    } catch (const korvo::SystemError& e) {
        errno = e.code();
        return step;
    }
}

mode_t currentUmask() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

int copyLocked(const char* source, const char* target) {
    const korvo::FdOwner in(openRetrying(source, O_RDONLY));
    if (in.get() < 0) {
        korvo_log(LOG_LEVEL_ERROR, "Unable to open file %s: %s", source, std::strerror(errno));
        return 1;
    }
    struct stat st {};
    if (::fstat(in.get(), &st) != 0) {
        korvo_log(LOG_LEVEL_ERROR, "Unable to get info for file '%s': %s", source,
                  std::strerror(errno));
        return 1;
    }
    const bool toStdout = std::strcmp(target, "-") == 0;
    const char failed =
        toStdout ? copyContent(in.get(), STDOUT_FILENO)
                 : replaceWithCopy(in.get(), target,
                                   {static_cast<mode_t>(st.st_mode & 07777 & ~currentUmask())});
    switch (failed) {
    case 'r':
        korvo_log(LOG_LEVEL_ERROR, "Error while copying file %s to %s: %s", source, target,
                  std::strerror(errno));
        return 1;
    case 'w':
        korvo_log(LOG_LEVEL_ERROR, "Unable to copy file %s to %s: %s\n", source, target,
                  std::strerror(errno));
        return 1;
    case 'o':
        korvo_log(LOG_LEVEL_ERROR, "Unable to open file %s: %s", target, std::strerror(errno));
        return 1;
    case 'c':
        korvo_log(LOG_LEVEL_ERROR, "Unable to close file %s: %s\n", target, std::strerror(errno));
        return 1;
    default:
        return 0;
    }
}

// messlog2 with a non-zero status ends the process; abort() only states
// that to the compiler.
[[noreturn]] void atomicCopyFailed(const char* source, const char* target, const char* what) {
    messlog2(1, 0, "copy_file_atomic(%s -> %s): %s failed", source, target, what);
    std::abort();
}

// The directory part of path without trailing slashes; "" when there is
// none (a relative name or the root).
std::string parentOf(const std::string& path) {
    std::string::size_type end = path.find_last_not_of('/');
    if (end == std::string::npos)
        return "";
    const std::string::size_type slash = path.rfind('/', end);
    if (slash == std::string::npos)
        return "";
    end = path.find_last_not_of('/', slash);
    return end == std::string::npos ? "" : path.substr(0, end + 1);
}

bool exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

// Climbs from path to the first directory that exists, then creates the
// missing ones on the way back down.
void makeMissing(const std::string& path, uid_t uid, gid_t gid, mode_t mode) {
    if (path.empty() || exists(path))
        return;
    makeMissing(parentOf(path), uid, gid, mode & 0777);
    if (::mkdir(path.c_str(), mode) != 0) {
        // Made by someone else meanwhile: theirs, left as it is.
        if (errno == EEXIST)
            return;
        messlog2(1, 0, "Cannot create directory %s: %s", path.c_str(), std::strerror(errno));
    }
    if (::chown(path.c_str(), uid, gid) != 0)
        korvo_log(LOG_LEVEL_ERROR, "Cannot chown %s: %s", path.c_str(), std::strerror(errno));
}

int openDirectoryAt(int parent, const char* name) {
    int fd;
    do
        fd = ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    return fd;
}

// Ends the process like atomicCopyFailed.
[[noreturn]] void treeFailed(const char* format, const std::string& path) {
    messlog2(1, 0, format, path.c_str(), std::strerror(errno));
    std::abort();
}

// Removes the entries of the directory open as fd (which it takes over).
void removeEntries(int fd, const std::string& shown) {
    korvo::DirOwner dir = korvo::DirOwner::fromDescriptor(fd);
    if (dir.get() == nullptr)
        treeFailed("Unable to open dir %s: %s\n", shown);
    while (const dirent* entry = ::readdir(dir.get())) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
            continue;
        const std::string path = shown + "/" + entry->d_name;
        struct stat st {};
        if (::fstatat(dir.fd(), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno == ENOENT)
                continue;
            treeFailed("Unable to check directory entry %s: %s\n", path);
        }
        if (S_ISDIR(st.st_mode)) {
            const int child = openDirectoryAt(dir.fd(), entry->d_name);
            if (child < 0) {
                if (errno == ENOENT)
                    continue;
                treeFailed("Unable to open dir %s: %s\n", path);
            }
            removeEntries(child, path);
            if (::unlinkat(dir.fd(), entry->d_name, AT_REMOVEDIR) != 0 && errno != ENOENT)
                treeFailed("Unable to remove dir %s: %s\n", path);
        } else if (::unlinkat(dir.fd(), entry->d_name, 0) != 0 && errno != ENOENT) {
            treeFailed("Unable to unlink directory entry %s: %s\n", path);
        }
    }
    if (dir.close() != 0)
        treeFailed("Unable to close dir %s: %s\n", shown);
}

long long sizeOf(const struct stat& st, int blocks) {
    return blocks ? static_cast<long long>(st.st_blocks) * 512 : static_cast<long long>(st.st_size);
}

// Sum of the sizes below the directory open as fd (which it takes over).
long long sizeBelow(int fd, int blocks) {
    const korvo::DirOwner dir = korvo::DirOwner::fromDescriptor(fd);
    if (dir.get() == nullptr)
        return 0;
    long long total = 0;
    while (const dirent* entry = ::readdir(dir.get())) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
            continue;
        struct stat st {};
        if (::fstatat(dir.fd(), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        total += sizeOf(st, blocks);
        if (!S_ISDIR(st.st_mode))
            continue;
        const int child = openDirectoryAt(dir.fd(), entry->d_name);
        if (child >= 0)
            total += sizeBelow(child, blocks);
    }
    return total;
}

// Six random characters for a unique temporary name.
std::string randomSuffix() {
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    unsigned char bytes[6] = {};
    if (::getentropy(bytes, sizeof bytes) != 0) {
        const auto seed =
            static_cast<unsigned long>(::getpid()) ^
            static_cast<unsigned long>(std::chrono::steady_clock::now().time_since_epoch().count());
        for (std::size_t i = 0; i < sizeof bytes; ++i)
            bytes[i] = static_cast<unsigned char>(seed >> (8 * i));
    }
    std::string suffix = ".";
    for (const unsigned char byte : bytes)
        suffix += alphabet[byte % (sizeof alphabet - 1)];
    return suffix;
}

// The step of copy_file_atomic that failed; null on success.
const char* atomicCopy(int from, const char* target, uid_t uid, gid_t gid, mode_t mode) {
    const char* step = "mkstemp";
    try {
        korvo::ReplaceOptions options{0600};
        options.tmpSuffix = randomSuffix();
        korvo::ReplaceFile out(target, options);
        step = "write";
        if (copyContent(from, out.fd()) != 0)
            return step;
        step = "chown";
        if (::fchown(out.fd(), uid, gid) != 0)
            return step;
        step = "chmod";
        if (::fchmod(out.fd(), mode) != 0)
            return step;
        step = "flush";
        out.commit();
        return nullptr;
    } catch (const korvo::SystemError& e) {
        const std::string what = e.std::runtime_error::what();
        return std::strcmp(step, "flush") == 0 && what.compare(0, 7, "rename ") == 0 ? "rename"
                                                                                     : step;
    } catch (const std::bad_alloc&) {
        messlog2(1, 0, "Allocation failed");
        std::abort();
    }
}

} // namespace

int copy_file(const char* source, const char* target) {
    if (std::strcmp(source, target) == 0)
        return 0;
    lock_struct_t* lock = mk_lock(target, 1);
    if (!is_locked(lock)) {
        korvo_log(LOG_LEVEL_ERROR, "Error occurred while locking the file %s\n", target);
        rm_lock(lock);
        return 1;
    }
    const int result = copyLocked(source, target);
    if (rm_lock(lock) != 0)
        korvo_log(LOG_LEVEL_ERROR, "Error occurred while unlocking the file %s\n", target);
    return result;
}

int copy_file_atomic(const char* source, const char* target, uid_t uid, gid_t gid, mode_t mode) {
    const char* failed = "open";
    {
        const korvo::FdOwner in(openRetrying(source, O_RDONLY));
        if (in.get() >= 0)
            failed = atomicCopy(in.get(), target, uid, gid, mode);
    }
    // Only now, with the temporary copy removed: messlog2 ends the process.
    if (failed != nullptr)
        atomicCopyFailed(source, target, failed);
    return 0;
}

int make_dir_p(const char* path, uid_t uid, gid_t gid, mode_t mode) {
    makeMissing(path, uid, gid, mode);
    return 0;
}

int make_dir_rec(const char* path, uid_t uid, gid_t gid, mode_t mode) {
    return make_dir_p(path, uid, gid, mode);
}

int create_empty_file(const char* path) {
    try {
        korvo::replaceFileContent(path, "", korvo::ReplaceOptions{0644});
    } catch (const korvo::SystemError& e) {
        return korvo_error("Unable to truncate or create file %s: %s", path,
                           std::strerror(e.code()));
    }
    return 0;
}

int get_string_from_file(char* buffer, std::size_t size, const char* path) {
    const korvo::StdioFile file(std::fopen(path, "re"));
    if (!file) {
        return korvo_error("Unable to open file %s: %s\n", path, std::strerror(errno));
    }
    korvo::LineBuffer line;
    const bool read = line.read(file.get()) >= 0;
    if (!read && std::ferror(file.get()))
        return korvo_error("Unable to read line from file: %s\n", std::strerror(errno));
    const char* trimmed = read ? korvo_trim(line.text()) : "";
    const std::size_t length = std::strlen(trimmed);
    const bool fits = length < size;
    if (fits)
        std::memcpy(buffer, trimmed, length + 1);
    if (!fits) {
        return korvo_error("The buffer too short\n");
    }
    return 0;
}

int file_set_user_mode(const char* path, const char* account, mode_t mode) {
    const passwd* entry = ::getpwnam(account);
    if (entry == nullptr) {
        return korvo_error("user %s not found", account);
    }
    // Through a descriptor opened without following a link, so a link that
    // the account planted never hands it some other file.
    korvo::FdOwner fd(::open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0 || ::fchown(fd.get(), entry->pw_uid, entry->pw_gid) != 0) {
        return korvo_error("ERROR: unable to chown %s: %s\n", path, std::strerror(errno));
    }
    if (::fchmod(fd.get(), mode) != 0) {
        return korvo_error("ERROR: unable to chmod %s: %s\n", path, std::strerror(errno));
    }
    fd.close_nothrow();
    return 0;
}

int rm_tree(const char* path, int removeTop) {
    struct stat st {};
    if (::lstat(path, &st) != 0) {
        if (errno == ENOENT)
            return 0;
        treeFailed("Unable to check directory entry %s: %s\n", path);
    }
    if (!S_ISDIR(st.st_mode)) {
        if (::unlink(path) != 0 && errno != ENOENT)
            treeFailed("Unable to unlink entry %s: %s\n", path);
        return 0;
    }
    const int fd = openDirectoryAt(AT_FDCWD, path);
    if (fd < 0)
        treeFailed("Unable to open dir %s: %s\n", path);
    removeEntries(fd, path);
    if (removeTop && ::rmdir(path) != 0 && errno != ENOENT)
        treeFailed("Unable to remove dir %s: %s\n", path);
    return 0;
}

long long get_dir_size(const char* path, int blocks) {
    struct stat st {};
    if (::lstat(path, &st) != 0)
        return -1;
    if (!S_ISDIR(st.st_mode))
        return sizeOf(st, blocks);
    const int fd = openDirectoryAt(AT_FDCWD, path);
    if (fd < 0)
        return -1;
    return sizeOf(st, blocks) + sizeBelow(fd, blocks);
}
