// Filters a table dump on the fly, as "postmap -s" writes it.
//
// The dump reaches filterChunk in pieces of any size, cut anywhere, even in
// the middle of a line. Each complete line is passed through a record-line
// filter (ElementFilters.h) and, when kept, written to the output stream
// (whose own buffer decides when it reaches the file); only the incomplete
// tail of the last piece is held back, so memory use does not depend on the
// size of the table. finish() handles a last
// line that lacks its line feed.
//
// Failures: whatever the output stream raises (the table rewrite makes it
// throw on bad and fail states) propagates out of filterChunk and finish.
//
// Use: DatabaseHelper::filterRecords builds one from a record-line filter,
// points it at the table's source file and hands filterChunk to the dump's
// stdout channel. DumpReceiver is the type-independent face that the
// rewrite code drives.
#ifndef KORVO_POSTFIX_DATASTREAMFILTER_H
#define KORVO_POSTFIX_DATASTREAMFILTER_H

#include <cstring>
#include <ostream>
#include <string>
#include <vector>

namespace korvo::mail::postfix::database {

class DumpReceiver {
public:
    virtual ~DumpReceiver() = default;
    // Where kept lines go from now on.
    virtual void setOutput(std::ostream& out) = 0;
    virtual void filterChunk(const std::vector<char>& chunk) = 0;
    // Filters the held-back tail, if any, as a complete line.
    virtual void finish() = 0;
};

template <class R> class DataStreamFilter : public DumpReceiver {
public:
    explicit DataStreamFilter(const R& filter) : filter(filter), out(nullptr) {}

    void setOutput(std::ostream& stream) override { out = &stream; }

    void filterChunk(const std::vector<char>& chunk) override {
        const char* cursor = chunk.data();
        const char* const end = cursor + chunk.size();
        while (cursor != end) {
            const void* found = std::memchr(cursor, '\n', end - cursor);
            if (found == nullptr) {
                pending.append(cursor, end);
                return;
            }
            const char* const lineEnd = static_cast<const char*>(found);
            pending.append(cursor, lineEnd);
            passPending();
            cursor = lineEnd + 1;
        }
    }

    void finish() override {
        if (!pending.empty()) {
            passPending();
        }
    }

private:
    void passPending() {
        if (filter(pending)) {
            *out << pending << '\n';
        }
        pending.clear();
    }

    R filter;
    std::ostream* out;
    std::string pending;
};

} // namespace korvo::mail::postfix::database

#endif
