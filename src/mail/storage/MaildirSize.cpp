#include "mail/storage/MaildirSize.h"

#include "mail/storage/MailPaths.h"
#include "mail/storage/MaildirSizeSeams.h"
#include "mail/storage/MaildirUsage.h"
#include "mail/storage/NoFollowFs.h"
#include "utils/Accounts.h"
#include "utils/FdOwner.h"
#include "utils/Logging.h"
#include "utils/UnnamedFile.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using korvo::FdOwner;
using korvo::mail::MaildirUsage;
using korvo::mail::openDirectoryAt;

const char maildirsizeName[] = "maildirsize";
const char mailAccount[] = "popuser";
constexpr int createAttempts = 5;
constexpr unsigned int retrySeconds = 2;
// Maildir++ readers recount a maildirsize older than 15 minutes.
constexpr std::time_t backdateSeconds = 960;
constexpr std::size_t textBufferSize = 100;
constexpr std::size_t maxReadSize = 5120;
constexpr std::size_t maxHostName = 64;

// The new maildirsize while it is written in the Maildir's "tmp": an
// unnamed file (O_TMPFILE) that gets its name only right before the rename,
// so that a run killed meanwhile leaves nothing behind; where the file
// system has no unnamed files, a named one from the start. Removed on every
// way out unless it was renamed into place.
class TemporaryFile {
public:
    TemporaryFile() = default;
    ~TemporaryFile() {
        discard();
        dir.close_nothrow();
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    // One attempt of the safe-creation rule: the name must not exist, and a
    // named file is created exclusively without following a link and must
    // still be the file just opened. errno tells why an attempt failed.
    bool create(int maildirFd, const std::string& candidate) {
        dir.close_nothrow();
        dir.seize(openDirectoryAt(maildirFd, "tmp"));
        if (dir.get() < 0 || !nameIsFree(candidate))
            return false;
        name = candidate;
        int fd;
        do
            fd = ::openat(dir.get(), ".", O_WRONLY | O_TMPFILE | O_CLOEXEC, 0644);
        while (fd < 0 && errno == EINTR);
        if (fd >= 0) {
            file.seize(fd);
            return true;
        }
        if (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)
            return createNamed();
        name.clear();
        return false;
    }

    // Closes and deletes the file, keeping errno.
    void discard() {
        const int code = errno;
        file.close_nothrow();
        if (linked)
            ::unlinkat(dir.get(), name.c_str(), 0);
        linked = false;
        name.clear();
        errno = code;
    }

    // Flushes the content to disk, gives an unnamed file its name (failing
    // with EEXIST when the name was taken meanwhile) and closes the file.
    bool commit() {
        if (::fsync(file.get()) != 0)
            return false;
        if (!linked) {
            if (::linkat(AT_FDCWD, korvo::selfPath(file.get()).c_str(), dir.get(), name.c_str(),
                         AT_SYMLINK_FOLLOW) != 0)
                return false;
            linked = true;
        }
        return file.close_nothrow() == 0;
    }

    // Moves the committed file over maildirsize in the Maildir; afterwards
    // nothing is deleted any more.
    bool moveInto(int maildirFd) {
        if (::renameat(dir.get(), name.c_str(), maildirFd, maildirsizeName) != 0)
            return false;
        linked = false;
        name.clear();
        return true;
    }

    int fd() const { return file.get(); }

private:
    bool nameIsFree(const std::string& candidate) const {
        struct stat st {};
        if (::fstatat(dir.get(), candidate.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
            errno = EEXIST;
            return false;
        }
        return errno == ENOENT;
    }

    bool createNamed() {
        int fd;
        do
            fd = ::openat(dir.get(), name.c_str(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        while (fd < 0 && errno == EINTR);
        if (fd < 0) {
            name.clear();
            return false;
        }
        file.seize(fd);
        linked = true;
        struct stat opened {};
        struct stat st {};
        if (::fstat(fd, &opened) != 0 ||
            ::fstatat(dir.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
            opened.st_dev != st.st_dev || opened.st_ino != st.st_ino || ::ftruncate(fd, 0) != 0) {
            const int code = errno;
            discard();
            errno = code == 0 ? EEXIST : code;
            return false;
        }
        return true;
    }

    FdOwner dir;
    FdOwner file;
    std::string name;
    // Whether name is a link to file in dir (to be removed on discard).
    bool linked = false;
};

std::string candidateName(const char* host) {
    char name[korvo::mail::maxMailPath];
    const int length = std::snprintf(name, sizeof name, "%lu.%u.%s-maildirsize",
                                     static_cast<unsigned long>(std::time(nullptr)),
                                     static_cast<unsigned int>(::getpid()), host);
    // The name lies in "tmp/", which counts against the limit as well.
    if (length < 0 || static_cast<std::size_t>(length) + 4 >= sizeof name) {
        errno = ENAMETOOLONG;
        return "";
    }
    return name;
}

// Up to five attempts, two seconds apart, each with a name from the time
// of its own.
bool createTemporary(int maildirFd, const char* host, TemporaryFile& file) {
    for (int attempt = 1;; ++attempt) {
        const std::string name = candidateName(host);
        if (name.empty()) {
            messlog2(0, 0, "host name is too long to be used in filename");
            return false;
        }
        if (file.create(maildirFd, name))
            return true;
        korvo::mail::seam::maildirsizeRetrySleep(retrySeconds);
        if (attempt == createAttempts)
            break;
    }
    errno = EAGAIN;
    messlog2(0, 0, "Maximal allowed number of attempts to create a maildirsize file exceeded");
    return false;
}

bool writeAll(int fd, const char* text, std::size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, text, size);
        if (written < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            return false;
        }
        text += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

// Counts the mailbox and writes both lines into the temporary file; the
// latest folder time seen goes to counted.
bool fillTemporary(int maildirFd, TemporaryFile& file, long long quotaBytes,
                   unsigned long long quotaCount, std::time_t& counted) {
    MaildirUsage usage;
    if (korvo::mail::get_maildirpp_messages_usage(maildirFd, usage) != 0)
        return false;
    counted = usage.latest;
    char text[textBufferSize];
    const int length = std::snprintf(text, sizeof text, "%lldS,%lluC\n%12lld%12llu\n", quotaBytes,
                                     quotaCount, usage.bytes, usage.count);
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof text) {
        errno = EINVAL;
        return false;
    }
    if (!writeAll(file.fd(), text, static_cast<std::size_t>(length))) {
        messlog2(0, 0, "unable to write data to file");
        return false;
    }
    if (!file.commit()) {
        messlog2(0, 0, "unable to commit written data to file");
        return false;
    }
    return true;
}

// Backdates maildirsize when a folder changed after it was counted, or when
// that cannot be told.
void backdateIfChanged(int maildirFd, const char* maildir, std::time_t counted) {
    korvo::mail::seam::maildirsizeAfterCount(maildirFd);
    std::time_t latest = 0;
    if (korvo::mail::maildir_latest_change(maildirFd, maildir, latest) == 0 && latest <= counted)
        return;
    struct timespec times[2] = {};
    times[0].tv_nsec = UTIME_NOW;
    times[1].tv_sec = counted - backdateSeconds;
    ::utimensat(maildirFd, maildirsizeName, times, AT_SYMLINK_NOFOLLOW);
}

bool writeMaildirsize(int maildirFd, const char* maildir, uid_t uid, gid_t gid,
                      long long quotaBytes, unsigned long long quotaCount) {
    char host[maxHostName + 1] = {};
    if (::gethostname(host, maxHostName) != 0) {
        messlog2(0, 0, "Unable to receive hostname");
        return false;
    }
    TemporaryFile file;
    if (!createTemporary(maildirFd, host, file))
        return false;
    if (::fchown(file.fd(), uid, gid) != 0)
        return false;
    std::time_t counted = 0;
    if (!fillTemporary(maildirFd, file, quotaBytes, quotaCount, counted) ||
        !file.moveInto(maildirFd))
        return false;
    if (::fsync(maildirFd) != 0) {
        messlog2(0, 0, "unable to commit written data to file");
        return false;
    }
    backdateIfChanged(maildirFd, maildir, counted);
    return true;
}

// Adds the usage lines (all after the first) of a maildirsize text; false
// when one is malformed: no byte number, overflow, no whitespace after it,
// a message count that is not positive, or anything after the count.
bool sumUsageLines(const std::string& text, long long& bytes, unsigned long long& count) {
    std::string::size_type start = text.find('\n');
    while (start != std::string::npos && start + 1 < text.size()) {
        ++start;
        const std::string::size_type end = text.find('\n', start);
        const std::string line =
            text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        const char* first = line.c_str();
        char* after = nullptr;
        errno = 0;
        const long long lineBytes = std::strtoll(first, &after, 10);
        if (after == first || errno == ERANGE || !std::isspace(static_cast<unsigned char>(*after)))
            return false;
        const char* countText = after;
        const long long lineCount = std::strtoll(countText, &after, 10);
        if (after == countText || errno == ERANGE || lineCount <= 0 || after != first + line.size())
            return false;
        bytes += lineBytes;
        count += static_cast<unsigned long long>(lineCount);
        start = end;
    }
    return true;
}

// The content of maildir's maildirsize when it is a regular file of at most
// 5120 bytes.
bool readMaildirsize(int maildirFd, std::string& text) {
    int fd;
    do
        fd = ::openat(maildirFd, maildirsizeName, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    const FdOwner file(fd);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    char buffer[maxReadSize + 1];
    std::size_t size = 0;
    while (size < sizeof buffer) {
        const ssize_t n = ::read(fd, buffer + size, sizeof buffer - size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            break;
        size += static_cast<std::size_t>(n);
    }
    if (size > maxReadSize)
        return false;
    text.assign(buffer, size);
    return true;
}

} // namespace

int write_maildirpp_maildirsize(const char* maildir, uid_t uid, gid_t gid, long long quotaBytes,
                                unsigned long long quotaCount) {
    const FdOwner maildirFd(openDirectoryAt(AT_FDCWD, maildir));
    if (maildirFd.get() < 0 ||
        !writeMaildirsize(maildirFd.get(), maildir, uid, gid, quotaBytes, quotaCount))
        return 0;
    return ::fchdir(maildirFd.get()) == 0 ? 1 : 0;
}

int write_maildirpp_maildirsize_at(int maildirFd, const char* shownPath, uid_t uid, gid_t gid,
                                   long long quotaBytes, unsigned long long quotaCount) {
    return writeMaildirsize(maildirFd, shownPath, uid, gid, quotaBytes, quotaCount) ? 1 : 0;
}

int read_maildirpp_maildirsize(int maildirFd, std::string& text) {
    return readMaildirsize(maildirFd, text) ? 1 : 0;
}

int store_maildirpp_quota_raw(const char* maildir, long long quota) {
    const long long bytes = quota < 0 ? 0 : quota == 0 ? 1 : quota;
    return write_maildirpp_maildirsize(maildir, korvo_ugid(mailAccount, 0),
                                       korvo_ugid(mailAccount, 1), bytes, 0);
}

int get_maildirpp_usage(const char* maildir, long long* bytes, unsigned long long* count) {
    const FdOwner maildirFd(openDirectoryAt(AT_FDCWD, maildir));
    if (maildirFd.get() < 0)
        return -1;
    std::string text;
    long long sumBytes = 0;
    unsigned long long sumCount = 0;
    if (!readMaildirsize(maildirFd.get(), text) || !sumUsageLines(text, sumBytes, sumCount)) {
        MaildirUsage usage;
        if (korvo::mail::get_maildirpp_messages_usage(maildirFd.get(), usage) != 0)
            return -1;
        sumBytes = usage.bytes;
        sumCount = usage.count;
    }
    *bytes = sumBytes;
    *count = sumCount;
    return 0;
}
