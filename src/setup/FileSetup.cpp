#include "setup/FileSetup.h"

#include "utils/Exceptions.h"
#include "utils/FdOwner.h"
#include "utils/ReplaceFile.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace korvo::setup {

namespace {

constexpr mode_t PERMISSION_BITS = 07777;

std::string octal(mode_t mode) {
    char text[16];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & PERMISSION_BITS));
    return text;
}

bool exists(const std::string& path, struct stat& st) {
    if (::lstat(path.c_str(), &st) == 0)
        return true;
    if (errno != ENOENT)
        throwSystemError("lstat " + path);
    return false;
}

void applyOwnership(int fd, const std::string& path, const Ownership& wanted) {
    if (::fchown(fd, wanted.uid, wanted.gid) != 0)
        throwSystemError("chown " + path);
    if (::fchmod(fd, wanted.mode) != 0)
        throwSystemError("chmod " + path);
}

// The existing object at path, refusing a symbolic link or another kind.
int openExisting(const std::string& path, int kindFlags, const char* kindName) {
    const int fd = ::open(path.c_str(), kindFlags | O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ELOOP || errno == ENOTDIR)
            throwSystemError(path + " is not a " + kindName);
        throwSystemError("open " + path);
    }
    return fd;
}

void createParents(const std::string& path) {
    const std::string::size_type slash = path.rfind('/');
    if (slash == std::string::npos || slash == 0)
        return;
    const std::string parent = path.substr(0, slash);
    struct stat st;
    if (exists(parent, st))
        return;
    createParents(parent);
    if (::mkdir(parent.c_str(), 0755) != 0 && errno != EEXIST)
        throwSystemError("mkdir " + parent);
}

} // namespace

std::string describeOwnership(const Ownership& ownership) {
    return "owner " + std::to_string(ownership.uid) + ":" + std::to_string(ownership.gid) +
           " mode " + octal(ownership.mode);
}

void checkOwnership(int fd, const std::string& path, const Ownership& wanted, bool force,
                    SetupReport& report) {
    struct stat st;
    if (::fstat(fd, &st) != 0)
        throwSystemError("stat " + path);
    const Ownership actual{st.st_uid, st.st_gid, st.st_mode & PERMISSION_BITS};
    if (actual.uid == wanted.uid && actual.gid == wanted.gid && actual.mode == wanted.mode)
        return;
    if (force) {
        applyOwnership(fd, path, wanted);
        report.changed("reset " + path + " to " + describeOwnership(wanted) + " (was " +
                       describeOwnership(actual) + ")");
        return;
    }
    report.note(path + " has " + describeOwnership(actual) + ", setup would give it " +
                describeOwnership(wanted) + "; kept (--force resets it)");
}

void ensureDirectory(const std::string& path, const Ownership& wanted, bool force,
                     SetupReport& report) {
    struct stat st;
    const bool found = exists(path, st);
    if (found && !S_ISDIR(st.st_mode))
        throwSystemError(path + " is not a directory", ENOTDIR);
    if (!found) {
        createParents(path);
        if (::mkdir(path.c_str(), 0700) != 0)
            throwSystemError("mkdir " + path);
    }
    const FdOwner fd(openExisting(path, O_DIRECTORY, "directory"));
    if (found) {
        checkOwnership(fd.get(), path, wanted, force, report);
        return;
    }
    applyOwnership(fd.get(), path, wanted);
    syncParentDirectory(path);
    report.changed("created directory " + path + " (" + describeOwnership(wanted) + ")");
}

void ensureFile(const std::string& path, const Ownership& wanted, bool force, SetupReport& report) {
    struct stat st;
    if (exists(path, st)) {
        if (!S_ISREG(st.st_mode))
            throwSystemError(path + " is not a regular file", EINVAL);
        const FdOwner fd(openExisting(path, 0, "regular file"));
        checkOwnership(fd.get(), path, wanted, force, report);
        return;
    }
    FdOwner fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (fd.get() < 0)
        throwSystemError("create " + path);
    applyOwnership(fd.get(), path, wanted);
    if (::fsync(fd.get()) != 0)
        throwSystemError("fsync " + path);
    fd.close();
    syncParentDirectory(path);
    report.changed("created empty file " + path + " (" + describeOwnership(wanted) + ")");
}

bool pathExists(const std::string& path) {
    struct stat st;
    return exists(path, st);
}

std::string readWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throwSystemError("open " + path);
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad())
        throwSystemError("read " + path);
    return text.str();
}

void ensureSymlink(const std::string& path, const std::string& target, SetupReport& report) {
    struct stat st;
    if (exists(path, st))
        return;
    if (::symlink(target.c_str(), path.c_str()) != 0)
        throwSystemError("symlink " + path + " -> " + target);
    report.changed("linked " + path + " -> " + target);
}

} // namespace korvo::setup
