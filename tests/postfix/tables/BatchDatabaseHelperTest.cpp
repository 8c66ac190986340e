#include "postfix/tables/BatchDatabaseHelper.h"
#include "utils/Exceptions.h"

#include "TableFixture.h"

namespace korvo::mail::postfix {
namespace {

using test::LookupTableTest;

TEST_F(LookupTableTest, ImmediateBatchesApplyEachChangeAtOnce) {
    BatchDatabaseHelper merging(true, true);
    const Records records = {{"a", "1"}, {"b", "2"}};
    merging.addChanges(table, records.begin(), records.end());
    EXPECT_EQ(dump(), (Content{{"a", "1"}, {"b", "2"}}));
    const Keys keys = {"a", "absent"};
    merging.removeChanges(table, keys.begin(), keys.end());
    EXPECT_EQ(dump(), (Content{{"b", "2"}}));
    EXPECT_THROW(merging.addChange(missing, "e", "5"), PostfixConfigurationError);

    BatchDatabaseHelper replacing(false, true);
    replacing.addChange(table, "c", "3");
    replacing.addChange(table, "d", "4");
    EXPECT_EQ(dump(), (Content{{"d", "4"}}));
}

TEST_F(LookupTableTest, CollectingBatchAppliesNothingBeforeCommit) {
    fill("k 0\n");
    {
        BatchDatabaseHelper dropped(true, false);
        dropped.addChange(table, "x", "1");
        const Keys keys = {"k"};
        dropped.removeChanges(table, keys.begin(), keys.end());
        EXPECT_THROW(dropped.addChange(table, "bad key", "1"), std::invalid_argument);
    }
    EXPECT_EQ(dump(), (Content{{"k", "0"}}));

    const std::string other = "hash:/var/spool/postfix/korvo/s";
    BatchDatabaseHelper batch(true, false);
    const Keys keys = {"k", "b"};
    batch.removeChanges(table, keys.begin(), keys.end());
    const RecordList records = {{"a", "1"}, {"b", "2"}};
    batch.addChanges(table, records.begin(), records.end());
    batch.addChange(other, "c", "3");
    batch.commit();
    EXPECT_EQ(dump(), (Content{{"a", "1"}}));
    EXPECT_EQ(dump(other), (Content{{"c", "3"}}));

    // ".../korvo/missing/t" sorts first, so its failure ends the commit
    // before the other addition and before any removal.
    const Keys otherKeys = {"c"};
    batch.removeChanges(other, otherKeys.begin(), otherKeys.end());
    batch.addChange(table, "y", "5");
    batch.addChange(missing, "z", "9");
    EXPECT_THROW(batch.commit(), PostfixConfigurationError);
    EXPECT_EQ(dump(), (Content{{"a", "1"}}));
    EXPECT_EQ(dump(other), (Content{{"c", "3"}}));
}

} // namespace
} // namespace korvo::mail::postfix
