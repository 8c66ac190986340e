// Reads and changes Postfix lookup tables, always through postmap.
//
// The indexed database of a table is never opened here: every change is one
// /usr/sbin/postmap run, a child process fed and watched through the process
// layer. Records are streamed to postmap as they are formatted, one line per
// formRecord call, in pieces of at most 64 KiB, so a range of any length
// costs one process and is never assembled in memory.
//
// Every change of a table, record-level or whole, holds the table's MKLock
// (the digest lock of its source path, tables::sourcePath) while postmap
// runs. The two whole-table rebuilds (replaceRecords, filterRecords) build
// beside the table (TableRebuild.h): they write a temporary source file, let
// postmap build its database, rename that over the table's and remove the
// temporaries on every way out, so Postfix reads the old or the new complete
// table and no file is left beside it. A filter dumps the table first and
// rebuilds it from the dump. A rebuild runs in a child process holding the
// table's lock, so that a kill of the tool mid-way still ends with the
// switch done or not and nothing left behind; its failure is raised in the
// caller with its class and message. Because record-level changes
// (addRecords, removeRecords) wait for the same lock, no change of another
// run can fall between a dump and its rebuild and be lost. Never call these while holding a table's
// lock: the lock is not re-entrant.
//
// Failures, by class:
//   PostfixConfigurationError  an add, rebuild or dump failed; the message is
//                              postmap's error output, or "unknown error";
//   PostfixDatabaseError       a delete failed with an error line, or postmap
//                              was killed. A delete of an absent key is not a
//                              failure: postmap exits non-zero silently;
//   std::invalid_argument      a key or value that a record line cannot carry
//                              (RecordText.h), refused before postmap runs;
//   std::ios_base::failure     the temporary source could not be created or
//                              written (names the file and the error);
//   korvo::SystemError         the new database could not be switched to;
//   the process layer's and MKLock's own exceptions propagate unchanged.
// Nothing is rolled back: a failed add may have stored part of its range.
//
// Use: DatabaseHelper::addRecord(tables::VIRTUAL, "info@example.com", "info@example.com");
#ifndef KORVO_POSTFIX_DATABASEHELPER_H
#define KORVO_POSTFIX_DATABASEHELPER_H

#include "postfix/tables/DataStreamFilter.h"
#include "postfix/tables/RecordText.h"

#include <boost/function.hpp>
#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace korvo::mail::postfix {

// True when no line of a Postfix utility's error output reports an error:
// a line counts when its severity word (the first word after
// "program: ") is "panic:", "fatal:" or "error:". Warnings never count.
bool checkOutput(const std::string& output);

// Appends the record line of *current to buffer and advances current; true
// while records remain. The line source of an add's stdin feeder.
template <class Iterator>
bool formRecord(std::vector<char>& buffer, Iterator& current, const Iterator& end) {
    const std::string& key = current->first;
    const std::string& value = current->second;
    buffer.insert(buffer.end(), key.begin(), key.end());
    buffer.push_back(' ');
    buffer.insert(buffer.end(), value.begin(), value.end());
    buffer.push_back('\n');
    ++current;
    return current != end;
}

namespace detail {
// Lines go to postmap in pieces of up to PIECE_SIZE bytes (a last line may
// run past it): a pipe write per line would wake postmap once per record and
// cost more than postmap's own work, while the pieces keep memory bounded.
inline constexpr std::size_t PIECE_SIZE = 65536;

// Appends lines from a one-line feeder until the piece is full or no line
// is left; true while lines remain.
template <class LineFeeder> bool fillPiece(std::vector<char>& buffer, LineFeeder line) {
    bool more = true;
    while (more && buffer.size() < PIECE_SIZE) {
        more = line(buffer);
    }
    return more;
}

// Appends the key line of *current; the stdin feeder of a multi-key delete.
template <class Iterator>
bool printKey(std::vector<char>& buffer, Iterator& current, const Iterator& end) {
    buffer.insert(buffer.end(), current->begin(), current->end());
    buffer.push_back('\n');
    ++current;
    return current != end;
}
} // namespace detail

class DatabaseHelper {
public:
    using Record = std::pair<std::string, std::string>;
    using Feeder = boost::function<bool(std::vector<char>&)>;
    using SourceWriter = boost::function<void(std::ostream&)>;

    DatabaseHelper() = delete;

    static void addRecord(const std::string& table, const std::string& key,
                          const std::string& value);

    // Inserts the records; a present key takes the new value; others stay.
    template <class Iterator>
    static void addRecords(const std::string& table, Iterator first, Iterator last) {
        if (first == last) {
            return;
        }
        requireRepresentableRecords(first, last);
        Iterator current = first;
        addFromFeeder(table, [&current, &last](std::vector<char>& buffer) {
            return detail::fillPiece(
                buffer, [&](std::vector<char>& piece) { return formRecord(piece, current, last); });
        });
    }

    // Makes the records the table's whole content (none: an empty table).
    template <class Iterator>
    static void replaceRecords(const std::string& table, Iterator first, Iterator last) {
        requireRepresentableRecords(first, last);
        rebuildFromSource(table, [&first, &last](std::ostream& source) {
            for (Iterator current = first; current != last; ++current) {
                source << current->first << ' ' << current->second << '\n';
            }
        });
    }

    // One record looked up (a single postmap query, no pass over the
    // table): true with its value when the key is stored, false when not.
    // A failed query raises PostfixDatabaseError.
    static bool findRecord(const std::string& table, const std::string& key, std::string& value);

    static void removeRecord(const std::string& table, const std::string& key);

    template <class Iterator>
    static void removeRecords(const std::string& table, Iterator first, Iterator last) {
        if (first == last) {
            return;
        }
        for (Iterator current = first; current != last; ++current) {
            requireRepresentableKey(*current);
        }
        Iterator current = first;
        removeFromFeeder(table, [&current, &last](std::vector<char>& buffer) {
            return detail::fillPiece(buffer, [&](std::vector<char>& piece) {
                return detail::printKey(piece, current, last);
            });
        });
    }

    // Rewrites every record through a record-line filter (ElementFilters.h):
    // dropped records vanish, rewritten ones replace the originals.
    template <class RecordFilter>
    static void filterRecords(const std::string& table, const RecordFilter& filter) {
        database::DataStreamFilter<RecordFilter> receiver(filter);
        rewriteThrough(table, receiver);
    }

private:
    template <class Iterator>
    static void requireRepresentableRecords(Iterator first, Iterator last) {
        for (; first != last; ++first) {
            requireRepresentableKey(first->first);
            requireRepresentableValue(first->second);
        }
    }

    static void addFromFeeder(const std::string& table, const Feeder& feeder);
    static void removeFromFeeder(const std::string& table, const Feeder& feeder);
    static void rebuildFromSource(const std::string& table, const SourceWriter& writeSource);
    static void rewriteThrough(const std::string& table, database::DumpReceiver& receiver);
};

} // namespace korvo::mail::postfix

#endif
