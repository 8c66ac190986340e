#include "postfix/managers/RollbackSteps.h"
#include "postfix/managers/DomainFilters.h"
#include "postfix/tables/DatabaseHelper.h"
#include "postfix/tables/ElementFilters.h"

#include "ManagerFixture.h"
#include "sandbox/CapturedOutput.h"

#include <cstdio>
#include <vector>

namespace {

using namespace korvo::mail::postfix;
using RollbackStepsTest = korvo::test::ManagerTest;

TEST_F(RollbackStepsTest, AFailedUndoIsReportedAndTheEarlierStepsStillRun) {
    korvo::test::fillTable(tables::VIRTUAL, "a@x.example b@x.example\n");
    // The mailbox table's database is gone, so its undo cannot even dump it.
    std::remove("/var/spool/postfix/korvo/vmailbox.db");
    std::vector<std::string> ran;
    RollbackSteps rollback;
    for (const char* table : {tables::VIRTUAL, tables::VMAILBOX}) {
        rollback.arm(table, [&ran, table] {
            ran.push_back(table);
            DatabaseHelper::filterRecords(table, database::ElementsFilter<database::ReplaceAddress>(
                                                     {"b@x.example", "c@x.example"}));
        });
    }
    korvo::test::CapturedStderr capturedStderr;
    rollback.run();
    rollback.run();
    const std::string reported = capturedStderr.text();
    EXPECT_EQ(ran, (std::vector<std::string>{tables::VMAILBOX, tables::VIRTUAL}));
    EXPECT_EQ(reported.rfind("CRITICAL ERROR: Unable to properly restore Postfix Virtual "
                             "Mailboxes Database used by Korvo.\n",
                             0),
              0u)
        << reported;
    EXPECT_EQ(dump(tables::VIRTUAL), (Content{{"a@x.example", "c@x.example"}}));
}

} // namespace
