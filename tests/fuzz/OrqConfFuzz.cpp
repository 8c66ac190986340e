// Feeds arbitrary bytes as the utility configuration file to its loader.
// The file lives in memory (memfd, read through /proc/self/fd), so nothing
// on disk is touched. The loader must never crash, and what it keeps must
// obey the file's rules whatever the input: keys of letters, digits and
// "_"; non-empty values with no blank at either end, no "#" and no line
// break; one entry per key, findable by conf_get_r. Writing the loaded
// entries back as "KEY value" lines and loading that again must give the
// same entries.
#include "utils/OrqConf.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace {

void check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "OrqConfFuzz: %s\n", what);
        std::abort();
    }
}

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool isKey(const std::string& key) {
    if (key.empty())
        return false;
    for (const char c : key)
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
              c == '_'))
            return false;
    return true;
}

bool isValue(const std::string& value) {
    return !value.empty() && !isBlank(value.front()) && !isBlank(value.back()) &&
           value.find('#') == std::string::npos && value.find('\n') == std::string::npos;
}

// An in-memory file holding text, and the path the loader opens it by.
class MemoryFile {
public:
    explicit MemoryFile(const std::string& text) : fd_(::memfd_create("orq.conf", MFD_CLOEXEC)) {
        check(fd_ >= 0, "memfd_create failed");
        check(::write(fd_, text.data(), text.size()) == static_cast<ssize_t>(text.size()),
              "memfd write failed");
        path_ = "/proc/self/fd/" + std::to_string(fd_);
    }
    ~MemoryFile() { ::close(fd_); }
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;
    const char* path() const { return path_.c_str(); }

private:
    int fd_;
    std::string path_;
};

// The entries the loader keeps for text; checks each one on the way.
std::map<std::string, std::string> load(const std::string& text) {
    const MemoryFile file(text);
    auto* conf = static_cast<conf_data*>(std::calloc(1, sizeof(conf_data)));
    check(conf != nullptr, "out of memory");
    check(conf_read_file_r(file.path(), conf) == 0, "loading an in-memory file failed");
    check(conf->finalized == 1, "loaded configuration is not finalized");
    std::map<std::string, std::string> entries;
    for (std::uint64_t i = 0; i < conf->nmemb; ++i) {
        const std::string key = conf->data[i].key;
        const std::string value = conf->data[i].value;
        check(isKey(key), "kept a malformed key");
        check(isValue(value), "kept a malformed value");
        check(i == 0 || std::strcmp(conf->data[i - 1].key, conf->data[i].key) < 0,
              "entries not sorted or not unique");
        const char* found = conf_get_r(key.c_str(), conf);
        check(found != nullptr && value == found, "conf_get_r misses a kept key");
        entries[key] = value;
    }
    conf_free_r(conf);
    return entries;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const auto entries = load(text);
    std::string stored;
    for (const auto& [key, value] : entries)
        stored += key + " " + value + "\n";
    check(load(stored) == entries, "stored entries load differently");
    return 0;
}
