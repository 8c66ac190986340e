// Feeds arbitrary settings text and change requests to the Courier-IMAP
// settings rewriter, in memory. The first line is the request: ";"-separated
// items of an action digit (0 set, 1 remove, others ignored), a name of
// [A-Z0-9_] and for a set "=value" (names unique, as the commands send them);
// the rest is the old file. Checked: lines naming no requested name stay as
// they were and in order; a set name has exactly its one "NAME=value" line, a
// removed one none; the text ends with a line feed; a second rewrite is a no-op.
#include "mail/settings/CourierSettings.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

void check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "CourierSettingsFuzz: %s\n", what);
        std::abort();
    }
}

struct Entry {
    int action;
    std::string name, value;
};

std::vector<Entry> parseRequest(const std::string& line) {
    std::vector<Entry> entries;
    std::istringstream items(line);
    for (std::string item; std::getline(items, item, ';');) {
        const auto equals = std::min(item.find('='), item.size());
        if (equals < 2 || entries.size() == COURIER_PARAMS_MAX)
            continue;
        const Entry entry{item[0] - '0', item.substr(1, equals - 1),
                          item.substr(std::min(equals + 1, item.size()))};
        if (entry.value.find('\0') == std::string::npos &&
            entry.name.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_") ==
                std::string::npos &&
            std::none_of(entries.begin(), entries.end(),
                         [&](const Entry& other) { return other.name == entry.name; }))
            entries.push_back(entry);
    }
    return entries;
}

// Lines of text, each with its line feed when it has one.
std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    for (std::string::size_type start = 0, end; start < text.size(); start = end) {
        end = std::min(text.find('\n', start), text.size() - 1) + 1;
        lines.push_back(text.substr(start, end - start));
    }
    return lines;
}

// The set or remove entry the line assigns, or null.
const Entry* assigned(const std::vector<Entry>& entries, const std::string& line) {
    for (const Entry& entry : entries)
        if ((entry.action == COURIER_PARAM_SET || entry.action == COURIER_PARAM_REMOVE) &&
            line.compare(0, entry.name.size() + 1, entry.name + "=") == 0)
            return &entry;
    return nullptr;
}

std::string apply(const std::string& old, const std::vector<Entry>& entries) {
    std::vector<courier_param_entry> request;
    for (const Entry& entry : entries)
        request.push_back({entry.name.c_str(), entry.action, entry.value.c_str()});
    request.push_back({nullptr, 0, nullptr});
    return courier_params_apply(old, request.data());
}

void checkRewrite(const std::string& old, const std::vector<Entry>& entries,
                  const std::string& out) {
    check(out.empty() || out.back() == '\n', "new text lacks its final line feed");
    std::vector<std::string> before, after;
    std::map<const Entry*, std::vector<std::string>> assignments;
    for (const std::string& line : linesOf(old))
        if (assigned(entries, line) == nullptr)
            before.push_back(line);
    for (const std::string& line : linesOf(out))
        if (const Entry* entry = assigned(entries, line))
            assignments[entry].push_back(line);
        else
            after.push_back(line);
    if (!before.empty() && before.back().back() != '\n' && !after.empty())
        after.back().pop_back(); // the added final line feed
    check(before == after, "a line the request does not name changed");
    for (const Entry& entry : entries)
        if (entry.action == COURIER_PARAM_SET)
            check(assignments[&entry] ==
                      std::vector<std::string>{entry.name + "=" + entry.value + "\n"},
                  "a set variable lacks its one line");
        else if (entry.action == COURIER_PARAM_REMOVE)
            check(assignments[&entry].empty(), "a removed variable kept a line");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const auto newline = input.find('\n');
    if (newline == std::string::npos)
        return 0;
    const std::vector<Entry> entries = parseRequest(input.substr(0, newline));
    const std::string old = input.substr(newline + 1);
    const std::string out = apply(old, entries);
    checkRewrite(old, entries, out);
    check(apply(out, entries) == out, "rewriting twice changes the text again");
    return 0;
}
