// Feeds arbitrary bytes as the utility configuration file to its loader, from
// a memfd so no disk file is touched. No crash, and what it keeps obeys the
// file's rules: keys of [A-Za-z0-9_]; non-empty values without "#", line
// breaks or blanks at either end; one sorted entry per key that conf_get_r
// finds. Storing the entries as "KEY value" lines must load the same entries.
#include "utils/OrqConf.h"

#include <algorithm>
#include <cctype>
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

// The entries the loader keeps for text; checks each one on the way.
std::map<std::string, std::string> load(const std::string& text) {
    const int fd = ::memfd_create("orq.conf", MFD_CLOEXEC);
    check(fd >= 0 && ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()),
          "cannot stage the file in memory");
    auto* conf = static_cast<conf_data*>(std::calloc(1, sizeof(conf_data)));
    check(conf != nullptr &&
              conf_read_file_r(("/proc/self/fd/" + std::to_string(fd)).c_str(), conf) == 0 &&
              conf->finalized == 1,
          "loading an in-memory file failed");
    ::close(fd);
    const char* const blanks = " \t\n\v\f\r";
    std::map<std::string, std::string> entries;
    for (std::uint64_t i = 0; i < conf->nmemb; ++i) {
        const std::string key = conf->data[i].key, value = conf->data[i].value;
        check(!key.empty() &&
                  std::all_of(key.begin(), key.end(),
                              [](unsigned char c) { return std::isalnum(c) || c == '_'; }),
              "kept a malformed key");
        check(!value.empty() && !std::strchr(blanks, value.front()) &&
                  !std::strchr(blanks, value.back()) &&
                  value.find_first_of("#\n") == std::string::npos,
              "kept a malformed value");
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
    const auto entries = load(std::string(reinterpret_cast<const char*>(data), size));
    std::string stored;
    for (const auto& [key, value] : entries)
        stored += key + " " + value + "\n";
    check(load(stored) == entries, "stored entries load differently");
    return 0;
}
