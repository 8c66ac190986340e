// popuser can plant a link at any name in its home; none may lead the tool outside.
#include "StorageFixture.h"

#include "mail/storage/Attachments.h"
#include "mail/storage/DotQMailManager.h"
#include "mail/storage/MaildirPPManager.h"
#include "mail/storage/MaildirSize.h"
#include "sandbox/CapturedOutput.h"
#include "utils/Exceptions.h"

namespace {

using korvo::mail::DotQMailManager;
using korvo::mail::MaildirPPManager;
using namespace korvo::test;

class PlantedLinksTest : public StorageTest {
protected:
    void SetUp() override {
        StorageTest::SetUp();
        home = makeHome("example.com", "info");
        before = outsideState();
    }

    void plant(const std::string& target, const std::string& name) {
        ASSERT_EQ(::symlink(target.c_str(), (home + "/" + name).c_str()), 0) << name;
    }

    bool isLink(const std::string& name) { return S_ISLNK(statOf(home + "/" + name).st_mode); }

    const std::string victim = std::string(outside) + "/victim";
    const std::string victimDir = std::string(outside) + "/dir";
    std::string home;
    std::string before;
};

TEST_F(PlantedLinksTest, DeliveryFile) {
    const DotQMailManager qmail(home + "/.qmail");
    plant(victim, ".qmail");
    EXPECT_THROW(qmail.enableDelivery(), korvo::SystemError);
    EXPECT_THROW(qmail.addRedirect("a@example.org", DotQMailManager::Default), korvo::SystemError);
    EXPECT_THROW(qmail.removeRedirect("a@example.org"), korvo::SystemError);
    EXPECT_TRUE(isLink(".qmail"));
    // A reset replaces the link itself.
    qmail.reset();
    EXPECT_FALSE(isLink(".qmail"));
    EXPECT_EQ(readFile(home + "/.qmail"), "| true\n");

    plant(victim, ".qmail.tmp");
    qmail.enableDelivery();
    plant(victim, ".qmail.tmp");
    qmail.addRedirect("a@example.org", DotQMailManager::Default);
    plant(victim, ".qmail.tmp");
    qmail.removeRedirect("a@example.org");
    plant(victim, ".qmail.tmp");
    qmail.reset();
    EXPECT_EQ(readFile(home + "/.qmail"), "| true\n");
    EXPECT_EQ(statOf(home + "/.qmail").st_uid, popUid);
    EXPECT_EQ(outsideState(), before);
}

TEST_F(PlantedLinksTest, QuotaFile) {
    MaildirPPManager& quotas = MaildirPPManager::getInstance();
    plant(victim, "Maildir/maildirsize");
    quotas.setMailboxQuota("example.com", "info", 1000);
    EXPECT_FALSE(isLink("Maildir/maildirsize"));
    EXPECT_EQ(statOf(home + "/Maildir/maildirsize").st_uid, popUid);

    // Its temporary directory, and the Maildir itself, swapped for links.
    ASSERT_EQ(::rmdir((home + "/Maildir/tmp").c_str()), 0);
    plant(victimDir, "Maildir/tmp");
    EXPECT_THROW(quotas.setMailboxQuota("example.com", "info", 1000), korvo::mail::FSError);
    ASSERT_EQ(::rename((home + "/Maildir").c_str(), (home + "/Maildir.old").c_str()), 0);
    plant(victimDir, "Maildir");
    EXPECT_THROW(quotas.setMailboxQuota("example.com", "info", 1000), korvo::mail::FSError);
    long long bytes = 0;
    unsigned long long count = 0;
    EXPECT_EQ(get_maildirpp_usage((home + "/Maildir").c_str(), &bytes, &count), -1);
    EXPECT_EQ(outsideState(), before);
}

TEST_F(PlantedLinksTest, AttachmentsStore) {
    const std::string source = "/var/qmail/source.txt";
    writeFile(source, "attached\n");
    plant(victim, "@attachments/a.txt");
    plant(victim, "@attachments/b.txt.korvo-new");
    plant(victim, "@attachments/c.txt");
    ASSERT_EQ(add_attachment("info", "example.com", source.c_str(), "a.txt"), 0);
    ASSERT_EQ(add_attachment("info", "example.com", source.c_str(), "b.txt"), 0);
    EXPECT_FALSE(isLink("@attachments/a.txt"));
    EXPECT_FALSE(isLink("@attachments/b.txt.korvo-new") ||
                 ::access((home + "/@attachments/b.txt.korvo-new").c_str(), F_OK) == 0);
    ASSERT_EQ(remove_attachment("info", "example.com", "c.txt"), 0);
    EXPECT_NE(::access((home + "/@attachments/c.txt").c_str(), F_OK), 0);

    // The whole store swapped for a link to a directory of root's.
    ASSERT_EQ(::rename((home + "/@attachments").c_str(), (home + "/old").c_str()), 0);
    plant(victimDir, "@attachments");
    EXPECT_EQ(add_attachment("info", "example.com", source.c_str(), "inner"), -1);
    EXPECT_EQ(remove_attachment("info", "example.com", "inner"), -1);
    CapturedStdout capturedStdout;
    EXPECT_EQ(list_attachments("info", "example.com", 0, 0), -1);
    EXPECT_EQ(capturedStdout.text().find("inner\t"), std::string::npos);
    MaildirPPManager::getInstance().setMailboxQuota("example.com", "info", 1000);
    EXPECT_EQ(outsideState(), before);
}

} // namespace
