#include "postfix/tables/DatabaseHelper.h"
#include "process/MKLock.h"

#include "TableFixture.h"
#include "sandbox/TestFiles.h"

#include <chrono>
#include <csignal>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace korvo::mail::postfix {
namespace {

using test::LookupTableTest;

bool present(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

// A run killed mid-rebuild: the old table stays readable, postmap still ends
// with the whole new table, nothing stays beside it; leftovers of a rebuild
// that died entirely are cleared by the next, planted links not followed.
TEST_F(LookupTableTest, RebuildKilledMidwayLeavesACompleteTableAndNothingBeside) {
    fill("old 1\n");
    RecordList records;
    for (int i = 0; i < 200000; ++i)
        records.emplace_back("k" + std::to_string(i), "v" + std::to_string(i));
    const std::string temporarySource = source + ".tmp";
    const std::string temporaryIndex = temporarySource + ".db";

    const pid_t run = ::fork();
    if (run == 0) {
        try {
            DatabaseHelper::replaceRecords(table, records.begin(), records.end());
        } catch (...) {
        }
        ::_exit(0);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!present(temporaryIndex) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    ASSERT_TRUE(present(temporaryIndex)) << "postmap never started building";
    EXPECT_EQ(query("old"), "1");
    ::kill(run, SIGKILL);
    int status = 0;
    ::waitpid(run, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the run ended before it was killed";
    { const MKLock lock(source); }

    EXPECT_FALSE(present(source));
    EXPECT_FALSE(present(temporarySource));
    EXPECT_FALSE(present(temporaryIndex));
    const Content content = dump();
    EXPECT_EQ(content.size(), records.size());
    EXPECT_EQ(content.count("old"), 0u);
    EXPECT_EQ(query("k199999"), "v199999");

    test::writeFile("/var/spool/postfix/korvo/target", "keep\n");
    ASSERT_EQ(::symlink("/var/spool/postfix/korvo/target", temporarySource.c_str()), 0);
    test::writeFile(temporaryIndex, "junk");
    const Records next = {{"new", "2"}};
    DatabaseHelper::replaceRecords(table, next.begin(), next.end());
    EXPECT_EQ(dump(), (Content{{"new", "2"}}));
    EXPECT_EQ(test::readFile("/var/spool/postfix/korvo/target"), "keep\n");
    EXPECT_FALSE(present(temporarySource));
    EXPECT_FALSE(present(temporaryIndex));
}

} // namespace
} // namespace korvo::mail::postfix
