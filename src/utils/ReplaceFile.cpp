#include "utils/ReplaceFile.h"

#include "utils/Exceptions.h"
#include "utils/UnnamedFile.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace korvo {

namespace {

std::string directoryOf(const std::string& path) {
    const std::string::size_type slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Chains of links longer than this are refused, as the kernel does.
constexpr int maxLinkDepth = 40;

// An unnamed file in dir (O_TMPFILE): a run killed while writing leaves
// nothing behind. -1 where the file system cannot make one.
int openAnonymous(const std::string& dir) {
    int fd;
    do {
        fd = ::open(dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0 && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
        throwSystemError("create a file in " + dir);
    return fd;
}

int openNamed(const std::string& path) {
    int fd;
    do {
        fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        throwSystemError("create " + path);
    return fd;
}

} // namespace

std::string finalLinkTarget(const std::string& path) {
    std::string current = path;
    for (int depth = 0; depth < maxLinkDepth; ++depth) {
        struct stat st {};
        if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return current;
        char buffer[PATH_MAX];
        const ssize_t length = ::readlink(current.c_str(), buffer, sizeof buffer - 1);
        if (length < 0)
            throwSystemError("readlink " + current);
        const std::string link(buffer, static_cast<std::size_t>(length));
        current = link[0] == '/' ? link : directoryOf(current) + "/" + link;
    }
    throwSystemError("too many levels of links at " + path, ELOOP);
}

void syncParentDirectory(const std::string& path) {
    const std::string dir = directoryOf(path);
    FdOwner fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() < 0)
        throwSystemError("open directory " + dir);
    if (::fsync(fd.get()) != 0)
        throwSystemError("fsync directory " + dir);
    fd.close();
}

ReplaceFile::ReplaceFile(const std::string& target, const ReplaceOptions& options)
    : target_(options.resolveTargetLink ? finalLinkTarget(target) : target),
      tmpPath_(target_ + options.tmpSuffix) {
    mode_t mode = options.mode;
    uid_t uid = options.uid;
    gid_t gid = options.gid;
    struct stat st {};
    if (options.keepTargetAttributes && ::lstat(target_.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
        mode = st.st_mode & 07777;
        uid = st.st_uid;
        gid = st.st_gid;
    }
    removeStaleTemporary();
    fd_.seize(openAnonymous(directoryOf(target_)));
    if (fd_.get() < 0) {
        anonymous_ = false;
        fd_.seize(openNamed(tmpPath_));
    }
    if ((uid != static_cast<uid_t>(-1) || gid != static_cast<gid_t>(-1)) &&
        ::fchown(fd_.get(), uid, gid) != 0)
        throwSystemError("fchown " + tmpPath_);
    if (::fchmod(fd_.get(), mode) != 0)
        throwSystemError("fchmod " + tmpPath_);
}

ReplaceFile::~ReplaceFile() {
    if (!committed_) {
        fd_.close_nothrow();
        if (!anonymous_ || linked_)
            ::unlink(tmpPath_.c_str());
    }
}

void ReplaceFile::removeStaleTemporary() const {
    if (::unlink(tmpPath_.c_str()) != 0 && errno != ENOENT)
        throwSystemError("unlink " + tmpPath_);
}

void ReplaceFile::write(const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd_.get(), data, size);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            throwSystemError("write " + tmpPath_);
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
}

// The written file gets its temporary name only now, just before the
// rename, so the name exists for the blink between the two calls.
void ReplaceFile::linkAnonymous() {
    removeStaleTemporary();
    if (::linkat(AT_FDCWD, selfPath(fd_.get()).c_str(), AT_FDCWD, tmpPath_.c_str(),
                 AT_SYMLINK_FOLLOW) != 0)
        throwSystemError("link " + tmpPath_);
    linked_ = true;
}

void ReplaceFile::commit() {
    if (::fsync(fd_.get()) != 0)
        throwSystemError("fsync " + tmpPath_);
    if (anonymous_)
        linkAnonymous();
    // Nothing between the link and the rename: a run killed there would
    // leave the temporary name behind.
    if (::rename(tmpPath_.c_str(), target_.c_str()) != 0)
        throwSystemError("rename " + tmpPath_ + " to " + target_);
    committed_ = true;
    fd_.close();
    syncParentDirectory(target_);
}

void replaceFileContent(const std::string& target, const std::string& content,
                        const ReplaceOptions& options) {
    ReplaceFile file(target, options);
    file.write(content);
    file.commit();
}

} // namespace korvo
