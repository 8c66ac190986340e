#include "postfix/managers/MailnameManager.h"
#include "postfix/managers/DomainManager.h"
#include "utils/Exceptions.h"

#include "ManagerFixture.h"

#include <boost/filesystem.hpp>

namespace {

using namespace korvo::mail::postfix;
using namespace korvo::test;
using MailnameManagerTest = ManagerTest;

// Stopped after moving the home: running it again, even twice, finishes it.
TEST_F(MailnameManagerTest, RenameStoppedAfterMovingTheHomeFinishesWhenRunAgain) {
    addDomain("example.com");
    MailnameManager::createMailname("example.com", "sales");
    const std::string home = std::string(homes) + "example.com/";
    boost::filesystem::rename(home + "sales", home + "shop");
    for (int run = 0; run < 2; ++run)
        MailnameManager::renameMailname("example.com", "sales", "shop");
    EXPECT_TRUE(isDirectory(home + "shop/Maildir/cur"));
    EXPECT_EQ(dump(tables::VMAILBOX),
              (Content{{"shop@example.com", "example.com/shop/Maildir/"}}));
}

// The address moves on every alias, whatever letter case the table or the
// call uses, and on no other domain; a failure restores every alias.
TEST_F(MailnameManagerTest, EveryAliasMovesInOnePassOrNoneDoes) {
    addDomain("example.com", {"one.example", "two.example"});
    addMailname("example.com", "info");
    MailnameManager::createMailname("example.com", "info");
    DomainManager::createDomainAlias("example.com", "one.example");
    DomainManager::createDomainAlias("example.com", "two.example");
    fillTable(tables::VIRTUAL, "boss@other.example info@two.example, info@three.example\n");
    const Content before = dump(tables::VIRTUAL);
    const Content mailboxes = dump(tables::VMAILBOX);
    const std::vector<std::string> aliases{"One.Example", "two.example"};

    const std::string home = std::string(homes) + "example.com/";
    boost::filesystem::create_directories(home + "taken/Maildir");
    EXPECT_THROW(MailnameManager::renameMailname("example.com", "info", "taken", aliases),
                 std::exception);
    EXPECT_EQ(dump(tables::VIRTUAL), before);
    EXPECT_EQ(dump(tables::VMAILBOX), mailboxes);

    fillTable(tables::VIRTUAL, "boss@other.example INFO@Two.Example, info@three.example\n");
    MailnameManager::renameMailname("example.com", "info", "office", aliases);
    Content after = before;
    for (const char* key : {"info@example.com", "info@one.example", "info@two.example"})
        after.erase(key);
    after["office@example.com"] = "office@example.com";
    after["office@one.example"] = "office@example.com";
    after["office@two.example"] = "office@example.com";
    after["boss@other.example"] = "office@two.example, info@three.example";
    EXPECT_EQ(dump(tables::VIRTUAL), after);
}

// A failed quota (domain unknown to the panel) removes a new home, never an old one.
TEST_F(MailnameManagerTest, FailedCreationRemovesOnlyTheHomeItMade) {
    const std::string home = std::string(homes) + "unknown.example/info";
    EXPECT_THROW(MailnameManager::createMailname("unknown.example", "info"), korvo::mail::FSError);
    EXPECT_FALSE(boost::filesystem::exists(home));

    boost::filesystem::create_directories(home + "/Maildir/cur");
    writeFile(home + "/Maildir/cur/1.host", "mail\n");
    EXPECT_THROW(MailnameManager::createMailname("unknown.example", "info"), korvo::mail::FSError);
    EXPECT_EQ(readFile(home + "/Maildir/cur/1.host"), "mail\n");
}

// The panel re-runs a creation it is unsure of: the mailbox keeps storing
// and forwarding its mail, which a reset .qmail would drop.
TEST_F(MailnameManagerTest, CreatingAgainKeepsDeliveryAndMail) {
    addDomain("example.com");
    addMailname("example.com", "info");
    MailnameManager::createMailname("example.com", "info");
    const std::string home = std::string(homes) + "example.com/info";
    MailnameManager::enableDelivery("example.com", "info");
    MailnameManager::addForward("example.com", "info", "boss@other.example");
    writeFile(home + "/Maildir/cur/1.host", "mail\n");
    const std::string qmail = readFile(home + "/.qmail");
    MailnameManager::createMailname("example.com", "info", 1000000);
    EXPECT_EQ(readFile(home + "/.qmail"), qmail);
    EXPECT_EQ(readFile(home + "/Maildir/cur/1.host"), "mail\n");
}

} // namespace
