// Collects the lookup-table changes of one manager operation.
//
// A batch addresses every change to a table by its name (Tables.h) and
// either applies it at once through DatabaseHelper (immediate) or keeps it
// per table until commit(). Additions are merged into the table
// (incremental) or become its whole content (replacing). commit() applies
// all additions before any removal, tables in ascending byte order of their
// names, so a key both added and removed in one batch ends up removed.
//
// Failures: the DatabaseHelper exception of the first failing postmap run
// passes through unchanged, out of the change call itself when immediate,
// out of commit() otherwise. Nothing is rolled back: tables handled earlier
// keep their changes, and a failed commit keeps what it has not applied
// until the batch is destroyed. A key or value that a record line cannot
// carry is refused with std::invalid_argument when it is collected, so that
// commit() never fails half-way for it. "unable to form record cache"
// (PostfixDatabaseError): no memory for a table's entry.
//
// Use: the managers' operations take a BatchDatabaseHelper&; their overloads
// without one create BatchDatabaseHelper batch(INCREMENTAL, IMMEDIATE) and let it
// go.
// A collecting batch destroyed without commit() changes nothing.
#ifndef KORVO_POSTFIX_BATCHDATABASEHELPER_H
#define KORVO_POSTFIX_BATCHDATABASEHELPER_H

#include "postfix/tables/DatabaseHelper.h"
#include "utils/Exceptions.h"

#include <list>
#include <map>
#include <new>
#include <string>
#include <utility>

namespace korvo::mail::postfix {

// The two modes of a batch, named where a batch is made.
constexpr bool INCREMENTAL = true; // additions merge into the table
constexpr bool REPLACING = false;  // additions become the table's whole content
constexpr bool IMMEDIATE = true;   // each change is applied at once
constexpr bool COLLECTING = false; // changes wait for commit()

class BatchDatabaseHelper {
public:
    using Record = DatabaseHelper::Record;
    using RecordList = std::list<Record>;
    using KeyList = std::list<std::string>;

    BatchDatabaseHelper(bool incremental, bool immediate);

    BatchDatabaseHelper(const BatchDatabaseHelper&) = delete;
    BatchDatabaseHelper& operator=(const BatchDatabaseHelper&) = delete;

    void addChange(const std::string& table, const std::string& key, const std::string& value);

    template <class Iterator>
    void addChanges(const std::string& table, Iterator first, Iterator last) {
        RecordList records(first, last);
        add(table, records);
    }

    template <class Iterator>
    void removeChanges(const std::string& table, Iterator first, Iterator last) {
        if (immediate) {
            DatabaseHelper::removeRecords(table, first, last);
            return;
        }
        for (Iterator current = first; current != last; ++current) {
            requireRepresentableKey(*current);
        }
        KeyList& keys = entryFor(removals, table);
        keys.insert(keys.end(), first, last);
    }

    // Applies and forgets everything collected.
    void commit();

private:
    // Applies records now, or moves them to the end of the table's entry.
    void add(const std::string& table, RecordList& records);
    void apply(const std::string& table, const RecordList& records) const;

    // The table's entry, created empty when missing.
    template <class List>
    static List& entryFor(std::map<std::string, List>& changes, const std::string& table) {
        try {
            return changes[table];
        } catch (const std::bad_alloc&) {
            throw PostfixDatabaseError("unable to form record cache");
        }
    }

    const bool incremental;
    const bool immediate;
    std::map<std::string, RecordList> additions;
    std::map<std::string, KeyList> removals;
};

} // namespace korvo::mail::postfix

#endif
