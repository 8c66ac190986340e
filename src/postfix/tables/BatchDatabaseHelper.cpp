#include "postfix/tables/BatchDatabaseHelper.h"

namespace korvo::mail::postfix {

BatchDatabaseHelper::BatchDatabaseHelper(bool incremental, bool immediate)
    : incremental(incremental), immediate(immediate) {}

void BatchDatabaseHelper::addChange(const std::string& table, const std::string& key,
                                    const std::string& value) {
    RecordList records(1, Record(key, value));
    add(table, records);
}

void BatchDatabaseHelper::add(const std::string& table, RecordList& records) {
    if (immediate) {
        apply(table, records);
        return;
    }
    for (const Record& record : records) {
        requireRepresentableKey(record.first);
        requireRepresentableValue(record.second);
    }
    RecordList& pending = entryFor(additions, table);
    pending.splice(pending.end(), records);
}

void BatchDatabaseHelper::apply(const std::string& table, const RecordList& records) const {
    if (incremental) {
        DatabaseHelper::addRecords(table, records.begin(), records.end());
    } else {
        DatabaseHelper::replaceRecords(table, records.begin(), records.end());
    }
}

void BatchDatabaseHelper::commit() {
    for (const auto& entry : additions) {
        apply(entry.first, entry.second);
    }
    additions.clear();
    for (const auto& entry : removals) {
        DatabaseHelper::removeRecords(entry.first, entry.second.begin(), entry.second.end());
    }
    removals.clear();
}

} // namespace korvo::mail::postfix
