// The sandbox snapshot sees the changes the hostile-name tests rely on it
// to see: a table record, a file mode, an SQLite row, an extra text.
#include "sandbox/Snapshot.h"
#include "sandbox/Sandbox.h"
#include "sandbox/TestFiles.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <tuple>
#include <vector>

namespace korvo::test {
namespace {

using SnapshotTest = SandboxTest;

TEST_F(SnapshotTest, SeesRecordsModesRowsAndExtraText) {
    const std::string table = "hash:/var/spool/postfix/korvo/blacklists";
    const std::string sqlite = "sqlite3 /var/spool/postfix/korvo/passwd.db ";
    ASSERT_EQ(shell("printf 'a.example REJECT\\n' | postmap -r -i " + table), 0);
    ASSERT_EQ(shell(sqlite + "'CREATE TABLE t(x); INSERT INTO t VALUES (1);'"), 0);
    writeFile("/etc/orq/orq.conf", "KORVO_MAILNAMES_D /var/qmail/mailnames\n");
    EXPECT_TRUE(compareSnapshots(takeSnapshot("row 1"), takeSnapshot("row 1")));

    // Each change, the extra text the snapshot after it gets, and a line the report must show.
    const std::vector<std::tuple<std::string, std::string, std::string>> changes = {
        {"printf 'b.example REJECT\\n' | postmap -r -i " + table, "row 1",
         "+ table " + table + "\tb.example\tREJECT"},
        {"chmod 0600 /etc/orq/orq.conf", "row 1", "+ file /etc/orq/orq.conf f 0600 0:0 "},
        {sqlite + "'INSERT INTO t VALUES (2);'", "row 2", "INSERT INTO t VALUES(2);"},
        {"true", "row 2b", "+ extra row 2b"}};
    for (const auto& [change, extra, line] : changes) {
        const Snapshot before = takeSnapshot("row 1");
        ASSERT_EQ(shell(change), 0);
        const ::testing::AssertionResult same = compareSnapshots(before, takeSnapshot(extra));
        ASSERT_FALSE(same) << change;
        EXPECT_NE(std::string(same.message()).find(line), std::string::npos) << same.message();
    }
}

} // namespace
} // namespace korvo::test
