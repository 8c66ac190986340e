#include "postfix/config/MasterCfIO.h"

// GCC's flow analysis takes the optional attribute that Spirit's character
// parsers return for uninitialised once sanitizers are on; it is always set
// before use.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include "postfix/config/MasterCfGrammar.h"
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
#include "process/MKLock.h"
#include "utils/Exceptions.h"
#include "utils/ReplaceFile.h"

#include <cerrno>
#include <fcntl.h>
#include <sstream>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace korvo::mail::postfix {

namespace {

// A regular, non-empty file mapped read-only; nothing is left open or mapped
// once it is destroyed.
class MappedFile {
public:
    explicit MappedFile(const std::string& path) {
        // O_NONBLOCK keeps a FIFO in the way from blocking the open.
        int fd;
        do {
            fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        } while (fd == -1 && errno == EINTR);
        if (fd == -1)
            throw PostfixConfigurationError("unable to open " + path);
        struct stat st;
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
            size_ = static_cast<std::size_t>(st.st_size);
            void* data = ::mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd, 0);
            if (data != MAP_FAILED)
                data_ = static_cast<const char*>(data);
        }
        ::close(fd);
        if (data_ == nullptr)
            throw PostfixConfigurationError("unable to open " + path);
    }

    ~MappedFile() { ::munmap(const_cast<char*>(data_), size_); }

    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    const char* begin() const { return data_; }
    const char* end() const { return data_ + size_; }

private:
    const char* data_ = nullptr;
    std::size_t size_ = 0;
};

} // namespace

bool parseMasterCf(const char* first, const char* last, MasterCfContent& content) {
    return classic::parse(first, last, MasterCfParser(content)).full;
}

void writeMasterCf(std::ostream& out, const MasterCfContent& content) {
    for (const std::string& line : content.lines())
        out << line << '\n' << std::flush;
}

void loadMasterCf(const std::string& path, MasterCfContent& content) {
    const MappedFile file(path);
    if (!parseMasterCf(file.begin(), file.end(), content))
        throw PostfixConfigurationError("unable to parse " + path);
}

void storeMasterCf(const std::string& path, const MasterCfContent& content) {
    const MKLock lock(path, MKLock::LOCK_BY_DIGEST, MKLock::BLOCK);
    replaceMasterCf(path, content);
}

void replaceMasterCf(const std::string& path, const MasterCfContent& content) {
    std::ostringstream text;
    writeMasterCf(text, content);
    ReplaceOptions options;
    options.mode = 0644;
    options.resolveTargetLink = true;
    replaceFileContent(path, text.str(), options);
}

} // namespace korvo::mail::postfix
