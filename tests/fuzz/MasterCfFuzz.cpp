// Feeds arbitrary bytes to the master.cf parser: no crash or hang, and what
// parses stores back as the same bytes plus a final line feed. A file naming
// a service twice keeps one line for it; its stored text must then be stable.
#include "postfix/config/MasterCfIO.h"

#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

namespace postfix = korvo::mail::postfix;

namespace {

// Entries start a line with a name character; continuation, comment and
// blank lines cannot, so this counts entries, duplicates too, without the parser.
std::size_t countEntryLines(const std::string& text) {
    std::size_t count = 0;
    bool lineStart = true;
    for (const char ch : text) {
        if (lineStart && ((ch >= 'a' && ch <= 'z') || (ch >= '0' && ch <= '9') ||
                          std::string("-_:.").find(ch) != std::string::npos))
            ++count;
        lineStart = ch == '\n';
    }
    return count;
}

std::string store(const postfix::MasterCfContent& content) {
    std::ostringstream out;
    postfix::writeMasterCf(out, content);
    return out.str();
}

void check(bool condition) {
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string input(reinterpret_cast<const char*>(data), size);
    postfix::MasterCfContent content;
    // Empty files are refused before parsing.
    if (size == 0 || !postfix::parseMasterCf(input.data(), input.data() + size, content))
        return 0;
    if (input.back() != '\n')
        input += '\n';
    const std::string stored = store(content);
    check(countEntryLines(stored) == content.entries().size());
    if (countEntryLines(input) == content.entries().size())
        return check(stored == input), 0;
    postfix::MasterCfContent again;
    check(postfix::parseMasterCf(stored.data(), stored.data() + stored.size(), again));
    check(store(again) == stored && again.entries().size() == content.entries().size());
    return 0;
}
