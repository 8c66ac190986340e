#include "postfix/managers/RollbackSteps.h"
#include "postfix/managers/DomainFilters.h"
#include "postfix/tables/DatabaseHelper.h"
#include "postfix/tables/ElementFilters.h"
#include "postfix/tables/Tables.h"

#include "ManagerFixture.h"

#include <cstdio>
#include <vector>

namespace {

using namespace korvo::mail::postfix;
using RollbackStepsTest = korvo::test::ManagerTest;

void rename(const std::string& table, const std::string& from, const std::string& to) {
    DatabaseHelper::filterRecords(table, database::ElementsFilter<database::ReplaceAddress>(
                                             database::ReplaceAddress(from, to)));
}

TEST_F(RollbackStepsTest, AFailedUndoIsReportedAndTheEarlierStepsStillRun) {
    fill(tables::VIRTUAL, "a@x.example b@x.example\n");
    fill(tables::VIRTUAL_DOMAINS, "new.example new.example/\n");
    // The mailbox table's database is gone, so its undo cannot even dump it.
    std::remove("/var/spool/postfix/korvo/vmailbox.db");
    std::vector<std::string> ran;
    RollbackSteps rollback;
    rollback.arm(tables::VIRTUAL_DOMAINS, [&] {
        ran.push_back("domains");
        rename(tables::VIRTUAL_DOMAINS, "new.example", "old.example");
    });
    rollback.arm(tables::VIRTUAL, [&] {
        ran.push_back("virtual");
        rename(tables::VIRTUAL, "b@x.example", "c@x.example");
    });
    rollback.arm(tables::VMAILBOX, [&] {
        ran.push_back("mailboxes");
        rename(tables::VMAILBOX, "b@x.example", "c@x.example");
    });

    testing::internal::CaptureStderr();
    rollback.run();
    rollback.run();
    const std::string reported = testing::internal::GetCapturedStderr();

    EXPECT_EQ(ran, (std::vector<std::string>{"mailboxes", "virtual", "domains"}));
    EXPECT_EQ(reported, "CRITICAL ERROR: Unable to properly restore Postfix Virtual Mailboxes "
                        "Database used by Korvo.\nMail system may be not usable at the moment "
                        "and it cannot be repaired automatically.\nConstact Trevane support to "
                        "resolve this issue.\n");
    EXPECT_EQ(dump(tables::VIRTUAL), (Content{{"a@x.example", "c@x.example"}}));
    EXPECT_EQ(dump(tables::VIRTUAL_DOMAINS), (Content{{"old.example", "new.example/"}}));
}

} // namespace
