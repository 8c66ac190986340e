#include "utils/FileStr.h"

#include "utils/Exceptions.h"
#include "utils/FdOwner.h"
#include "utils/FileCopy.h"
#include "utils/Locks.h"
#include "utils/Logging.h"
#include "utils/ReplaceFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string withoutNewline(const char* text, std::size_t length) {
    if (length > 0 && text[length - 1] == '\n')
        --length;
    return std::string(text, length);
}

using LineTest = bool (*)(const std::string& line, const std::string& string);

bool equals(const std::string& line, const std::string& string) {
    return line == string;
}
bool beginsWith(const std::string& line, const std::string& string) {
    return line.compare(0, string.size(), string) == 0;
}
bool endsWith(const std::string& line, const std::string& string) {
    return line.size() >= string.size() &&
           line.compare(line.size() - string.size(), string.size(), string) == 0;
}
bool contains(const std::string& line, const std::string& string) {
    return line.find(string) != std::string::npos;
}

bool matchesAny(LineTest test, const std::string& line, const char* const* strings) {
    for (; *strings != nullptr; ++strings)
        if (test(line, withoutNewline(*strings, std::strlen(*strings))))
            return true;
    return false;
}

// A line as it goes into the file: with a newline at its end.
void appendLine(std::string& text, const char* line, std::size_t length) {
    text.append(line, length);
    if (length == 0 || line[length - 1] != '\n')
        text += '\n';
}

int openFailed(const std::string& path) {
    return korvo_error("Unable to open file %s: %s\n", path.c_str(), std::strerror(errno));
}

// Opens an existing regular file, or creates one, without following a link
// at path: the directory may belong to the mail account. A FIFO or device
// planted there is refused rather than waited on.
int openRegular(const char* path, int flags, struct stat& st) {
    int fd;
    do
        fd = ::open(path, flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return openFailed(path);
    korvo::FdOwner owner(fd);
    if (::fstat(fd, &st) != 0) {
        return korvo_error("file_str: Unable to stat file %s: %s\n", path, std::strerror(errno));
    }
    if (!S_ISREG(st.st_mode)) {
        errno = EINVAL;
        return openFailed(path);
    }
    const int flagsNow = ::fcntl(fd, F_GETFL);
    if (flagsNow < 0 || ::fcntl(fd, F_SETFL, flagsNow & ~O_NONBLOCK) != 0)
        return openFailed(path);
    return owner.release();
}

// The whole content of the file open as fd; false after a message.
bool readFile(int fd, const char* path, std::string& text) {
    if (korvo::readAll(fd, text))
        return true;
    korvo_log(LOG_LEVEL_ERROR, "Unable to open file %s: %s\n", path, std::strerror(errno));
    return false;
}

// What failed while the new content was being put in place.
enum class ReplaceStep { none, create, chown, chmod, write, sync, rename };

// Writes content to PATH.tmp (stale copies removed, never through a link),
// gives it the edited file's owner, group and mode, syncs it and renames it
// over path. Reports the failed step, errno kept.
ReplaceStep replaceContent(const char* path, const std::string& content, const struct stat& old) {
    ReplaceStep step = ReplaceStep::create;
    try {
        korvo::ReplaceFile out(path, korvo::ReplaceOptions{0600});
        step = ReplaceStep::chown;
        if (::fchown(out.fd(), old.st_uid, old.st_gid) != 0)
            return step;
        step = ReplaceStep::chmod;
        if (::fchmod(out.fd(), old.st_mode & 07777) != 0)
            return step;
        step = ReplaceStep::write;
        out.write(content);
        step = ReplaceStep::sync;
        out.commit();
        return ReplaceStep::none;
    } catch (const korvo::SystemError& e) {
        errno = e.code();
        const std::string what = e.std::runtime_error::what();
        return step == ReplaceStep::sync && what.compare(0, 7, "rename ") == 0 ? ReplaceStep::rename
                                                                               : step;
    }
}

int reportReplaceFailure(ReplaceStep step, const char* path) {
    const std::string copyPath = std::string(path) + ".tmp";
    const char* const reason = std::strerror(errno);
    switch (step) {
    case ReplaceStep::none:
        return 0;
    case ReplaceStep::create:
        korvo_log(LOG_LEVEL_ERROR, "Unable to open file %s: %s\n", copyPath.c_str(), reason);
        break;
    case ReplaceStep::chown:
        korvo_log(LOG_LEVEL_ERROR, "file_str: ERROR: Unable to chown file %s: %s", copyPath.c_str(),
                  reason);
        break;
    case ReplaceStep::chmod:
        korvo_log(LOG_LEVEL_ERROR, "file_str: ERROR: Unable to chmod file %s: %s", copyPath.c_str(),
                  reason);
        break;
    case ReplaceStep::write:
        messlog2(1, 0, "cannot write a line to %s.tmp", path);
        break;
    case ReplaceStep::sync:
        korvo_log(LOG_LEVEL_ERROR, "Unable to close file %s: %s\n", copyPath.c_str(), reason);
        break;
    case ReplaceStep::rename:
        korvo_log(LOG_LEVEL_ERROR, "Error while rename file %s: %s\n", path, reason);
        break;
    }
    return 1;
}

// Rewrites path: first the strings when prepend is set, then every line
// that drop does not match one of the strings.
int rewrite(const char* path, const char* const* strings, bool prepend, LineTest drop) {
    struct stat old {};
    const korvo::FdOwner in(openRegular(path, O_RDONLY, old));
    std::string text;
    if (in.get() < 0 || !readFile(in.get(), path, text))
        return 1;
    std::string content;
    for (const char* const* s = strings; prepend && *s != nullptr; ++s)
        appendLine(content, *s, std::strlen(*s));
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = std::min(text.find('\n', start), text.size() - 1) + 1;
        const char* const line = text.data() + start;
        const std::size_t length = end - start;
        if (drop == nullptr || !matchesAny(drop, withoutNewline(line, length), strings))
            appendLine(content, line, length);
        start = end;
    }
    return reportReplaceFailure(replaceContent(path, content, old), path);
}

// Appends in place; a file created here belongs to the calling process
// with the umask's mode.
int append(const char* path, const char* const* strings) {
    struct stat st {};
    korvo::FdOwner out(openRegular(path, O_WRONLY | O_APPEND | O_CREAT, st));
    if (out.get() < 0)
        return 1;
    std::string content;
    for (const char* const* s = strings; *s != nullptr; ++s)
        appendLine(content, *s, std::strlen(*s));
    std::size_t done = 0;
    while (done < content.size()) {
        const ssize_t written = ::write(out.get(), content.data() + done, content.size() - done);
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0) {
            korvo_log(LOG_LEVEL_ERROR, "Unable to close file %s: %s\n", path, std::strerror(errno));
            return 1;
        }
        done += static_cast<std::size_t>(written);
    }
    if (::fsync(out.get()) != 0 || out.close_nothrow() != 0) {
        korvo_log(LOG_LEVEL_ERROR, "Unable to close file %s: %s\n", path, std::strerror(errno));
        return 1;
    }
    return 0;
}

LineTest removalTest(int position) {
    switch (position) {
    case FILE_STR_BEGIN:
        return beginsWith;
    case FILE_STR_END:
        return endsWith;
    case FILE_STR_ANYWHERE:
        return contains;
    default:
        return nullptr;
    }
}

int editLocked(const char* path, const char* const* strings, int action, int position) {
    switch (action) {
    case FILE_STR_ADD:
        if (position == FILE_STR_END)
            return append(path, strings);
        return position == FILE_STR_BEGIN ? rewrite(path, strings, true, nullptr) : 0;
    case FILE_STR_REMOVE:
        return rewrite(path, strings, false, equals);
    case FILE_STR_REMOVE_BY:
        return rewrite(path, strings, false, removalTest(position));
    default:
        return 0;
    }
}

} // namespace

int file_strings(const char* path, const char* const* strings, int action, int position) {
    lock_struct_t* lock = mk_lock(path, 1);
    if (!is_locked(lock)) {
        korvo_log(LOG_LEVEL_ERROR, "Error occurred while locking the file %s: %s\n", path,
                  std::strerror(errno));
        rm_lock(lock);
        return 1;
    }
    const int result = editLocked(path, strings, action, position);
    if (rm_lock(lock) != 0) {
        korvo_log(LOG_LEVEL_ERROR, "Error occurred while unlocking the file %s: %s\n", path,
                  std::strerror(errno));
        return 1;
    }
    return result;
}

int file_str(const char* path, const char* string, int action, int position) {
    const char* const strings[] = {string, nullptr};
    return file_strings(path, strings, action, position);
}
