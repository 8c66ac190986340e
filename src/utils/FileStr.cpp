#include "utils/FileStr.h"

#include "utils/Locks.h"
#include "utils/Logging.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A stdio stream closed on every way out; close() reports the outcome of
// the final flush.
class Stream {
public:
    explicit Stream(std::FILE* file) : file_(file) {}
    ~Stream() {
        if (file_ != nullptr)
            std::fclose(file_);
    }
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;

    std::FILE* get() const { return file_; }
    bool close() {
        const bool failed = std::ferror(file_) != 0;
        const int rc = std::fclose(file_);
        file_ = nullptr;
        return !failed && rc == 0;
    }

private:
    std::FILE* file_;
};

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

bool closeReporting(Stream& stream, const std::string& path) {
    if (stream.close())
        return true;
    korvo_log(3, "Unable to close file %s: %s\n", path.c_str(), std::strerror(errno));
    return false;
}

void writeLine(std::FILE* out, const char* text, std::size_t length, const char* path) {
    const bool newline = length == 0 || text[length - 1] != '\n';
    if (std::fwrite(text, 1, length, out) != length || (newline && std::fputc('\n', out) == EOF))
        messlog2(1, 0, "cannot write a line to %s.tmp", path);
}

// Gives path the owner, group and mode the edited file had.
bool keepOwnerAndMode(int fd, const char* path, const struct stat& old) {
    if (::fchown(fd, old.st_uid, old.st_gid) != 0) {
        korvo_log(3, "file_str: ERROR: Unable to chown file %s: %s", path, std::strerror(errno));
        return false;
    }
    if (::fchmod(fd, old.st_mode & 07777) != 0) {
        korvo_log(3, "file_str: ERROR: Unable to chmod file %s: %s", path, std::strerror(errno));
        return false;
    }
    return true;
}

std::FILE* openReporting(const std::string& path, const char* mode) {
    std::FILE* file = std::fopen(path.c_str(), mode);
    if (file == nullptr)
        korvo_log(3, "Unable to open file %s: %s\n", path.c_str(), std::strerror(errno));
    return file;
}

// The temporary copy is private to us until it replaces the file.
std::FILE* createCopy(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    std::FILE* file = fd < 0 ? nullptr : ::fdopen(fd, "w");
    if (file == nullptr) {
        korvo_log(3, "Unable to open file %s: %s\n", path.c_str(), std::strerror(errno));
        if (fd >= 0)
            ::close(fd);
    }
    return file;
}

// Rewrites path through path.tmp: first the strings when prepend is set,
// then every line that drop does not match one of the strings.
int rewrite(const char* path, const char* const* strings, bool prepend, LineTest drop) {
    Stream in(openReporting(path, "r"));
    if (in.get() == nullptr)
        return 1;
    struct stat old {};
    if (::fstat(fileno(in.get()), &old) != 0) {
        korvo_log(3, "file_str: Unable to stat file %s: %s\n", path, std::strerror(errno));
        return 1;
    }
    const std::string copyPath = std::string(path) + ".tmp";
    Stream out(createCopy(copyPath));
    if (out.get() == nullptr)
        return 1;
    for (const char* const* s = strings; prepend && *s != nullptr; ++s)
        writeLine(out.get(), *s, std::strlen(*s), path);
    char* line = nullptr;
    std::size_t capacity = 0;
    ssize_t length;
    while ((length = ::getline(&line, &capacity, in.get())) > 0)
        if (drop == nullptr ||
            !matchesAny(drop, withoutNewline(line, static_cast<std::size_t>(length)), strings))
            writeLine(out.get(), line, static_cast<std::size_t>(length), path);
    std::free(line);
    if (std::ferror(in.get()) || !closeReporting(in, path))
        return 1;
    if (std::fflush(out.get()) != 0 || !keepOwnerAndMode(fileno(out.get()), copyPath.c_str(), old))
        return 1;
    if (!closeReporting(out, copyPath))
        return 1;
    if (::rename(copyPath.c_str(), path) != 0) {
        korvo_log(3, "Error while rename file %s: %s\n", path, std::strerror(errno));
        return 1;
    }
    return 0;
}

int append(const char* path, const struct stat* old, const char* const* strings) {
    Stream out(openReporting(path, "a"));
    if (out.get() == nullptr)
        return 1;
    for (const char* const* s = strings; *s != nullptr; ++s) {
        const std::size_t length = std::strlen(*s);
        std::fwrite(*s, 1, length, out.get());
        if (length == 0 || (*s)[length - 1] != '\n')
            std::fputc('\n', out.get());
    }
    if (old != nullptr && !keepOwnerAndMode(fileno(out.get()), path, *old))
        return 1;
    return closeReporting(out, path) ? 0 : 1;
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
    struct stat old {};
    const bool existed = ::stat(path, &old) == 0;
    if (!existed && errno != ENOENT) {
        korvo_log(3, "file_str: Unable to stat file %s: %s\n", path, std::strerror(errno));
        return 1;
    }
    switch (action) {
    case FILE_STR_ADD:
        if (position == FILE_STR_END)
            return append(path, existed ? &old : nullptr, strings);
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
        korvo_log(3, "Error occurred while locking the file %s: %s\n", path, std::strerror(errno));
        rm_lock(lock);
        return 1;
    }
    const int result = editLocked(path, strings, action, position);
    if (rm_lock(lock) != 0) {
        korvo_log(3, "Error occurred while unlocking the file %s: %s\n", path,
                  std::strerror(errno));
        return 1;
    }
    return result;
}

int file_str(const char* path, const char* string, int action, int position) {
    const char* const strings[] = {string, nullptr};
    return file_strings(path, strings, action, position);
}
