// The sandbox snapshot sees the changes the hostile-name tests rely on it
// to see: a table record, a file mode, an SQLite row, an extra text.
#include "sandbox/Snapshot.h"
#include "sandbox/Sandbox.h"
#include "sandbox/TestFiles.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace korvo::test {
namespace {

class SnapshotTest : public SandboxTest {};

TEST_F(SnapshotTest, SeesRecordsModesRowsAndExtraText) {
    ASSERT_EQ(shell("printf 'a.example REJECT\\n' | postmap -r -i "
                    "hash:/var/spool/postfix/korvo/blacklists"),
              0);
    ASSERT_EQ(shell("sqlite3 /var/spool/postfix/korvo/passwd.db "
                    "'CREATE TABLE t(x); INSERT INTO t VALUES (1);'"),
              0);
    writeFile("/etc/orq/orq.conf", "KORVO_MAILNAMES_D /var/qmail/mailnames\n");
    const Snapshot before = takeSnapshot("panel row 1");
    EXPECT_TRUE(compareSnapshots(before, takeSnapshot("panel row 1")));

    ASSERT_EQ(shell("printf 'b.example REJECT\\n' | postmap -r -i "
                    "hash:/var/spool/postfix/korvo/blacklists"),
              0);
    const ::testing::AssertionResult table = compareSnapshots(before, takeSnapshot("panel row 1"));
    ASSERT_FALSE(table);
    EXPECT_NE(std::string(table.message())
                  .find("+ table hash:/var/spool/postfix/korvo/blacklists\tb.example\tREJECT"),
              std::string::npos)
        << table.message();

    const Snapshot second = takeSnapshot("panel row 1");
    ::chmod("/etc/orq/orq.conf", 0600);
    const ::testing::AssertionResult mode = compareSnapshots(second, takeSnapshot("panel row 1"));
    ASSERT_FALSE(mode);
    EXPECT_NE(std::string(mode.message()).find("+ file /etc/orq/orq.conf f 0600 0:0 "),
              std::string::npos)
        << mode.message();

    const Snapshot third = takeSnapshot("panel row 1");
    ASSERT_EQ(shell("sqlite3 /var/spool/postfix/korvo/passwd.db 'INSERT INTO t VALUES (2);'"), 0);
    const ::testing::AssertionResult row = compareSnapshots(third, takeSnapshot("panel row 2"));
    ASSERT_FALSE(row);
    EXPECT_NE(std::string(row.message()).find("INSERT INTO t VALUES(2);"), std::string::npos)
        << row.message();
    EXPECT_NE(std::string(row.message()).find("+ extra panel row 2"), std::string::npos);
}

} // namespace
} // namespace korvo::test
