// Feeds arbitrary settings-file text and change requests to the Courier-IMAP
// settings rewriter, in memory (courier_params_apply touches no file).
//
// Input: the first line holds the request, one entry per ";"-separated
// item: an action digit ("0" set, "1" remove, anything else an action the
// rewriter must ignore), a variable name of upper-case letters, digits and
// "_", and for a set "=" and a value without line breaks (the commands only
// ever pass such values, and never name a variable twice). The rest of the input is the file's old
// content.
//
// Checked on every input: every line that assigns none of the requested
// names is kept byte for byte and in order; a set name has exactly one line,
// "NAME=value" of its first request entry; a removed name has none; the new
// text ends with a line feed unless empty; and rewriting the new text again
// with the same request changes nothing.
#include "mail/CourierSettings.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
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
    std::string name;
    std::string value;
};

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::string::size_type start = 0;
    for (;;) {
        const auto end = text.find(separator, start);
        parts.push_back(text.substr(start, end - start));
        if (end == std::string::npos)
            return parts;
        start = end + 1;
    }
}

bool isName(const std::string& name) {
    if (name.empty())
        return false;
    for (const char c : name)
        if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_'))
            return false;
    return true;
}

std::vector<Entry> parseRequest(const std::string& line) {
    std::vector<Entry> entries;
    for (const std::string& item : split(line, ';')) {
        if (item.size() < 2 || entries.size() == COURIER_PARAMS_MAX)
            continue;
        const auto equals = item.find('=');
        Entry entry{item[0] - '0',
                    item.substr(1, equals == std::string::npos ? equals : equals - 1),
                    equals == std::string::npos ? "" : item.substr(equals + 1)};
        // Names are unique in every request the commands make.
        bool known = false;
        for (const Entry& other : entries)
            known = known || other.name == entry.name;
        if (isName(entry.name) && !known && entry.value.find('\0') == std::string::npos)
            entries.push_back(entry);
    }
    return entries;
}

// Lines of text, each with its line feed when it has one.
std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::string::size_type start = 0;
    while (start < text.size()) {
        auto end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end + 1;
        lines.push_back(text.substr(start, end - start));
        start = end;
    }
    return lines;
}

bool assigns(const std::string& line, const std::string& name) {
    return line.size() > name.size() && line.compare(0, name.size(), name) == 0 &&
           line[name.size()] == '=';
}

// The first entry of the request that the line assigns, or null.
const Entry* entryOf(const std::vector<Entry>& entries, const std::string& line) {
    for (const Entry& entry : entries)
        if (assigns(line, entry.name))
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
    // Lines the request does not touch, in order, as they were.
    std::vector<std::string> untouched;
    for (std::string line : linesOf(old)) {
        const Entry* entry = entryOf(entries, line);
        if (entry == nullptr ||
            (entry->action != COURIER_PARAM_SET && entry->action != COURIER_PARAM_REMOVE))
            untouched.push_back(line);
    }
    std::vector<std::string> kept;
    for (const std::string& line : linesOf(out)) {
        const Entry* entry = entryOf(entries, line);
        if (entry == nullptr ||
            (entry->action != COURIER_PARAM_SET && entry->action != COURIER_PARAM_REMOVE))
            kept.push_back(line);
    }
    if (!untouched.empty() && untouched.back().back() != '\n' && !kept.empty())
        kept.back().pop_back(); // the added final line feed
    check(kept == untouched, "a line the request does not name changed");
    std::set<std::string> seen;
    for (const Entry& entry : entries) {
        if (!seen.insert(entry.name).second)
            continue;
        const Entry* first = &entry;
        std::size_t count = 0;
        bool value = false;
        for (const std::string& line : linesOf(out)) {
            if (entryOf(entries, line) != first)
                continue;
            ++count;
            value = line == first->name + "=" + first->value + "\n";
        }
        if (first->action == COURIER_PARAM_SET)
            check(count == 1 && value, "a set variable lacks its one line");
        else if (first->action == COURIER_PARAM_REMOVE)
            check(count == 0, "a removed variable kept a line");
    }
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
