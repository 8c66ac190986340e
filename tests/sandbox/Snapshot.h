// Everything vornctl may change in the sandbox, to prove a refused command
// changed nothing: one sorted line per entry of the tool's directories (path,
// type, mode, owner, size, SHA-256 or link target; no times, no links
// followed), every hash table as `postmap -s` and every SQLite file as
// `sqlite3 .dump` prints it (a failed dump as its error line), plus the
// caller's extra text. An unwalkable root throws std::runtime_error.
//     const Snapshot before = takeSnapshot();
//     runVornctl({"--add-badmailfrom", "--domain-name=/"});
//     EXPECT_TRUE(compareSnapshots(before, takeSnapshot()));
#ifndef KORVO_TESTS_SNAPSHOT_H
#define KORVO_TESTS_SNAPSHOT_H

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace korvo::test {

struct Snapshot {
    std::vector<std::string> lines; // sorted
};

// The directories takeSnapshot walks.
const std::vector<std::string>& snapshotRoots();

// extra: text whose lines join the snapshot, each prefixed with "extra ".
Snapshot takeSnapshot(const std::string& extra = "");

// A failure lists the lines only before ("-") and only after ("+").
::testing::AssertionResult compareSnapshots(const Snapshot& before, const Snapshot& after);

} // namespace korvo::test

#endif
