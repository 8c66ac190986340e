#include "postfix/tables/DatabaseHelper.h"
#include "postfix/tables/BatchDatabaseHelper.h"
#include "postfix/tables/PostfixUtilities.h"
#include "process/MKLock.h"
#include "utils/Exceptions.h"

#include "TableFixture.h"

#include <chrono>
#include <csignal>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace korvo::mail::postfix {
namespace {

using test::failure;
using test::LookupTableTest;

// Keys fold to lower case, values keep theirs; no source file is left beside the table.
TEST_F(LookupTableTest, AddsOverwritesRemovesAndReplacesRecords) {
    const Records records = {{"a@x", "b@y, c@y"}, {"Info@X", "Q@Y"}};
    DatabaseHelper::addRecords(table, records.begin(), records.end());
    DatabaseHelper::addRecord(table, "a@x", "z@y");
    EXPECT_EQ(dump(), (Content{{"a@x", "z@y"}, {"info@x", "Q@Y"}}));
    const Keys keys = {"absent@y", "a@x"};
    DatabaseHelper::removeRecords(table, keys.begin(), keys.end());
    EXPECT_EQ(dump(), (Content{{"info@x", "Q@Y"}}));
    // Empty ranges start no postmap (it would fail here).
    DatabaseHelper::addRecords(missing, records.end(), records.end());
    DatabaseHelper::removeRecords(missing, keys.end(), keys.end());

    const RecordList replacement = {{"c", "3"}, {"d", "4 5"}};
    DatabaseHelper::replaceRecords(table, replacement.begin(), replacement.end());
    EXPECT_EQ(dump(), (Content{{"c", "3"}, {"d", "4 5"}}));
    DatabaseHelper::replaceRecords(table, replacement.end(), replacement.end());
    EXPECT_EQ(dump(), Content{});
    EXPECT_THROW(DatabaseHelper::replaceRecords("nosuchtype:" + source, replacement.begin(),
                                                replacement.end()),
                 PostfixConfigurationError);
    EXPECT_FALSE(test::exists(source));
    EXPECT_THROW(DatabaseHelper::replaceRecords(missing, replacement.begin(), replacement.end()),
                 std::ios_base::failure);
}

TEST_F(LookupTableTest, FailuresCarryPostmapsErrorText) {
    const std::string opening =
        "postmap: fatal: open database /var/spool/postfix/korvo/missing/t.db";
    EXPECT_EQ(failure<PostfixConfigurationError>([&] {
                  DatabaseHelper::addRecord(missing, "a", "b");
              }).rfind(opening, 0),
              0u);
    fill("a b\n");
    // Postfix warns about every parameter that main.cf sets twice.
    std::ofstream("/etc/postfix/main.cf", std::ios::app) << "myhostname = x\nmyhostname = y\n";
    EXPECT_NO_THROW(DatabaseHelper::removeRecord(table, "absent"));
    const std::string error =
        failure<PostfixDatabaseError>([&] { DatabaseHelper::removeRecord(missing, "a"); });
    EXPECT_EQ(error.rfind("postmap: warning: /etc/postfix/main.cf", 0), 0u) << error;
    EXPECT_NE(error.find(opening), std::string::npos);
    EXPECT_FALSE(checkOutput("postmap: warning: x: y\npostmap:   panic: no"));
}

TEST_F(LookupTableTest, RecordsThatWouldInjectOthersAreRefused) {
    fill("a 1\n");
    const std::vector<std::pair<Records, std::string>> refused = {
        {{{"b", "2"}, {"c d", "3"}}, "c d"},
        {{{"b", "2\nevil 3"}}, "2\nevil 3"},
        {{{"b", "2"}, {"", "3"}}, ""},
        {{{"#b", "2"}}, "#b"},
        {{{"b", ""}}, ""},
        // postmap would only warn and keep the old value:
        {{{"a", " \t "}}, " \t "}};
    for (const auto& [records, offender] : refused) {
        const std::string error = failure<std::invalid_argument>(
            [&] { DatabaseHelper::addRecords(table, records.begin(), records.end()); });
        EXPECT_NE(error.find("'" + offender + "'"), std::string::npos) << error;
        EXPECT_THROW(DatabaseHelper::replaceRecords(table, records.begin(), records.end()),
                     std::invalid_argument);
    }
    const Keys keys = {"b", "a\nb"};
    EXPECT_THROW(DatabaseHelper::removeRecords(table, keys.begin(), keys.end()),
                 std::invalid_argument);
    EXPECT_EQ(dump(), (Content{{"a", "1"}}));
}

// Valid UTF-8 as postmap sees it: what it would silently drop is refused.
TEST_F(LookupTableTest, InvalidUtf8IsRefusedExactlyWherePostmapWouldDropIt) {
    // Valid 2, 3 and 4 bytes, U+FFFF, U+10FFFF; then malformed forms of every kind.
    std::istringstream texts(
        "\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80 \xef\xbf\xbf \xf4\x8f\xbf\xbf "
        "\xff \x80 \xc0\xaf \xe0\x80\xaf \xed\xa0\x80 \xf4\x90\x80\x80 \xe2\x82 "
        "\xf8\x88\x80\x80\x80");
    int key = 0;
    for (std::string text; texts >> text;) {
        const std::string name = "k" + std::to_string(++key);
        fill(name + " v" + text + "\n");
        const bool postmapStores = query(name) == "v" + text;
        EXPECT_EQ(isValidUtf8(text), postmapStores) << testing::PrintToString(text);
        if (postmapStores) {
            DatabaseHelper::addRecord(table, name + text, text);
            EXPECT_EQ(query(name + text), text);
        } else {
            EXPECT_THROW(DatabaseHelper::addRecord(table, name, text), std::invalid_argument);
            EXPECT_THROW(DatabaseHelper::removeRecord(table, name + text), std::invalid_argument);
        }
    }
}

// The managers' immediate merging batches are proven by their tests.
TEST_F(LookupTableTest, ReplacingBatchesAndCollectingBatchesApplyOnlyAtCommit) {
    BatchDatabaseHelper replacing(REPLACING, IMMEDIATE);
    replacing.addChange(table, "c", "3");
    replacing.addChange(table, "k", "0");
    EXPECT_EQ(dump(), (Content{{"k", "0"}}));

    const Records records = {{"a", "1"}, {"b", "2"}};
    const Keys keys = {"k", "b"};
    {
        BatchDatabaseHelper dropped(INCREMENTAL, COLLECTING);
        dropped.addChange(table, "x", "1");
        dropped.removeChanges(table, keys.begin(), keys.end());
        EXPECT_THROW(dropped.addChange(table, "bad key", "1"), std::invalid_argument);
    }
    EXPECT_EQ(dump(), (Content{{"k", "0"}}));
    const std::string other = "hash:/var/spool/postfix/korvo/s";
    BatchDatabaseHelper batch(INCREMENTAL, COLLECTING);
    batch.removeChanges(table, keys.begin(), keys.end());
    batch.addChanges(table, records.begin(), records.end());
    batch.addChange(other, "c", "3");
    batch.commit();
    EXPECT_EQ(dump(), (Content{{"a", "1"}}));
    EXPECT_EQ(test::dumpTable(other), (Content{{"c", "3"}}));

    // The missing table sorts first: its failure ends the commit before anything else.
    const Keys otherKeys = {"c"};
    batch.removeChanges(other, otherKeys.begin(), otherKeys.end());
    batch.addChange(table, "y", "5");
    batch.addChange(missing, "z", "9");
    EXPECT_THROW(batch.commit(), PostfixConfigurationError);
    EXPECT_EQ(dump(), (Content{{"a", "1"}}));
    EXPECT_EQ(test::dumpTable(other), (Content{{"c", "3"}}));
}

// Killed mid-rebuild: old table readable, new one finished, leftovers go, links not followed.
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
    ASSERT_TRUE(test::waitUntil([&] { return test::exists(temporaryIndex); }, 20,
                                std::chrono::microseconds(200)))
        << "postmap never started building";
    EXPECT_EQ(query("old"), "1");
    ::kill(run, SIGKILL);
    int status = 0;
    ::waitpid(run, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the run ended before it was killed";
    { const MKLock lock(source); }
    for (const std::string& left : {source, temporarySource, temporaryIndex})
        EXPECT_FALSE(test::exists(left)) << left;
    EXPECT_EQ(dump().size(), records.size());
    EXPECT_EQ(query("k199999"), "v199999");

    test::writeFile("/var/spool/postfix/korvo/target", "keep\n");
    ASSERT_EQ(::symlink("/var/spool/postfix/korvo/target", temporarySource.c_str()), 0);
    test::writeFile(temporaryIndex, "junk");
    const Records next = {{"new", "2"}};
    DatabaseHelper::replaceRecords(table, next.begin(), next.end());
    EXPECT_EQ(dump(), (Content{{"new", "2"}}));
    EXPECT_EQ(test::readFile("/var/spool/postfix/korvo/target"), "keep\n");
    EXPECT_FALSE(test::exists(temporarySource));
    EXPECT_FALSE(test::exists(temporaryIndex));
}

} // namespace
} // namespace korvo::mail::postfix
