// A record of everything vornctl may change inside the sandbox, to prove
// that a refused command changed nothing.
//
// takeSnapshot() walks the directories the tool writes (never following a
// link) and notes, one line per entry: path, type, mode, owner, size and,
// for regular files, a SHA-256 of the content (for links, the target).
// Times are left out: only what a reader of the files would see counts. It
// adds every Postfix hash table as `postmap -s` prints it and every SQLite
// file as `sqlite3 .dump` prints it, so a difference shows as records, not
// only as a changed hash, and the lines of an extra text the caller passes
// (for example a dump of the panel database).
//
// Lines are kept sorted, so compareSnapshots() reports differences as
// "-" (only before) and "+" (only after) lines, independent of the order
// postmap or the directory listing happens to use:
//
//     const Snapshot before = takeSnapshot();
//     runVornctl({"--add-badmailfrom", "--domain-name=/"});
//     EXPECT_TRUE(compareSnapshots(before, takeSnapshot()));
//
// A dump that fails (postmap or sqlite3 cannot read a file) is recorded as
// a line with its error text, so it still compares; a root that cannot be
// walked throws std::runtime_error.
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

// Success when both hold the same lines; otherwise a failure whose message
// lists the differing lines.
::testing::AssertionResult compareSnapshots(const Snapshot& before, const Snapshot& after);

} // namespace korvo::test

#endif
