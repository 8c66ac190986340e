// Feeds arbitrary bytes to the master.cf parser. It must never crash or
// hang, and what parses must store back unchanged: the same bytes, plus a
// final line feed where the input had none. The one allowed difference is a
// file naming the same service twice, which keeps one line for it; then the
// stored text must itself be stable under another load and store.
#include "postfix/config/MasterCfIO.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

using korvo::mail::postfix::MasterCfContent;

namespace {

bool startsEntry(char ch) {
    return (ch >= 'a' && ch <= 'z') || (ch >= '0' && ch <= '9') || ch == '-' || ch == '_' ||
           ch == ':' || ch == '.';
}

// Every entry of a file that parsed starts a line with a name character;
// continuation, comment and blank lines cannot. So this counts the entries
// the text holds, duplicates included, without the parser.
std::size_t countEntryLines(const std::string& text) {
    std::size_t count = 0;
    bool lineStart = true;
    for (const char ch : text) {
        if (lineStart && startsEntry(ch))
            ++count;
        lineStart = ch == '\n';
    }
    return count;
}

std::string store(const MasterCfContent& content) {
    std::ostringstream out;
    korvo::mail::postfix::writeMasterCf(out, content);
    return out.str();
}

void check(bool condition) {
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // loadMasterCf refuses empty files before parsing.
    if (size == 0)
        return 0;
    std::string input(reinterpret_cast<const char*>(data), size);
    MasterCfContent content;
    if (!korvo::mail::postfix::parseMasterCf(input.data(), input.data() + input.size(), content))
        return 0;
    if (input.back() != '\n')
        input += '\n';
    const std::string stored = store(content);
    check(countEntryLines(stored) == content.entries().size());
    if (countEntryLines(input) == content.entries().size()) {
        check(stored == input);
        return 0;
    }
    MasterCfContent again;
    check(korvo::mail::postfix::parseMasterCf(stored.data(), stored.data() + stored.size(), again));
    check(store(again) == stored);
    check(again.entries().size() == content.entries().size());
    return 0;
}
