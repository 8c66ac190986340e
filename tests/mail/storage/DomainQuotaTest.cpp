// Domain quotas against the real panel database: who follows the default,
// and where a mailbox's own quota falls back to.
#include "mail/storage/DomainQuota.h"
#include "mail/storage/MaildirPPManager.h"
#include "sandbox/CapturedOutput.h"
#include "sandbox/PanelDatabase.h"
#include "sandbox/TestFiles.h"
#include "utils/Exceptions.h"

#include <gtest/gtest.h>

namespace {

using korvo::mail::FSError;
using namespace korvo::test;

class DomainQuotaTest : public PanelDatabaseTest {
protected:
    void SetUp() override {
        PanelDatabaseTest::SetUp();
        addDomain("example.com");
        for (const char* mailname : {"info", "sales", "odd"}) {
            addMailname("example.com", mailname);
            quotas().createMailnameHome("example.com", mailname);
        }
        panelSql("UPDATE mail SET mbox_quota=5000 WHERE mail_name='sales';"
                 "UPDATE mail SET mbox_quota=NULL WHERE mail_name='odd'");
    }

    static korvo::mail::MaildirPPManager& quotas() {
        return korvo::mail::MaildirPPManager::getInstance();
    }

    // The quota line of the mailbox's maildirsize, and the one expected for quota.
    static std::string quotaLine(const std::string& domain, const std::string& mailname) {
        const std::string text =
            readFile(quotas().getMailnameHome(domain, mailname) + "/Maildir/maildirsize");
        return text.substr(0, text.find('\n'));
    }
    static std::string line(const std::string& domain, long long quota) {
        const std::string store = quotas().getMailnameHome(domain, "info") + "/@attachments";
        return std::to_string(quota - statOf(store).st_size) + "S,0C";
    }
};

TEST_F(DomainQuotaTest, DefaultQuotaReachesOnlyMailboxesWithoutTheirOwn) {
    EXPECT_EQ(quotas().setDomainQuota("example.com", 2000), 1);
    EXPECT_EQ(quotaLine("example.com", "info"), line("example.com", 2000));
    EXPECT_EQ(quotaLine("example.com", "odd"), line("example.com", 2000));
    EXPECT_EQ(quotaLine("example.com", "sales"), "");
    EXPECT_EQ(quotas().setDefaultMailboxQuota("example.com", 3000), 1);
    EXPECT_EQ(quotaLine("example.com", "info"), line("example.com", 3000));
    EXPECT_EQ(quotas().removeDomainQuota("example.com"), 1);
    EXPECT_EQ(quotaLine("example.com", "info"), "0S,0C");
    EXPECT_EQ(quotas().setDefaultMailboxQuota("example.com", 3000), 1);
    EXPECT_EQ(quotas().removeDefaultMailboxQuota("example.com"), 1);
    EXPECT_EQ(quotaLine("example.com", "odd"), "0S,0C");
}

TEST_F(DomainQuotaTest, RemovedMailboxQuotaFallsBackToTheDomainLimit) {
    setLimit("example.com", "mbox_quota", "7000");
    EXPECT_EQ(quotas().removeMailboxQuota("example.com", "sales"), 1);
    EXPECT_EQ(quotaLine("example.com", "sales"), line("example.com", 7000));
    setLimit("example.com", "mbox_quota", "unlimited");
    EXPECT_EQ(rm_mbox_quota("example.com", "sales"), 1);
    EXPECT_EQ(quotaLine("example.com", "sales"), "0S,0C");
    CapturedStdout capturedStdout;
    EXPECT_EQ(rm_mbox_quota("missing.example", "info"), 0);
    EXPECT_THROW(quotas().removeMailboxQuota("missing.example", "info"), FSError);
}

} // namespace
