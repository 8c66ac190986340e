#include "postfix/managers/MailnameManager.h"
#include "postfix/managers/DomainManager.h"

#include "postfix/tables/Tables.h"
#include "sandbox/TestFiles.h"
#include "utils/Exceptions.h"

#include "ManagerFixture.h"

#include <boost/filesystem.hpp>

namespace {

using korvo::mail::postfix::DomainManager;
using korvo::mail::postfix::MailnameManager;
namespace tables = korvo::mail::postfix::tables;
using MailnameManagerTest = korvo::test::ManagerTest;

TEST_F(MailnameManagerTest, MailnameAndMailAliasReachTheMailboxOnEveryDomainAlias) {
    addDomain("example.com", {"alias.example"});
    MailnameManager::createMailname("example.com", "info", 1048576);
    const std::string home = std::string(homes) + "example.com/info";
    EXPECT_TRUE(isDirectory(home + "/Maildir/cur"));
    EXPECT_EQ(korvo::test::readFile(home + "/.qmail"), "| true\n");
    EXPECT_NE(korvo::test::readFile(home + "/Maildir/maildirsize").find("S,0C\n"),
              std::string::npos);
    MailnameManager::createMailAlias("example.com", "info", "sales");
    EXPECT_EQ(dump(tables::VMAILBOX), (Content{{"info@example.com", "example.com/info/Maildir/"}}));
    EXPECT_EQ(dump(tables::VIRTUAL), (Content{{"info@example.com", "info@example.com"},
                                              {"info@alias.example", "info@example.com"},
                                              {"sales@example.com", "info@example.com"},
                                              {"sales@alias.example", "info@example.com"}}));

    MailnameManager::removeMailAlias("example.com", "info", "sales");
    MailnameManager::removeMailname("example.com", "info", korvo::mail::Remove);
    EXPECT_FALSE(boost::filesystem::exists(home));
    EXPECT_TRUE(dump(tables::VIRTUAL).empty());
    EXPECT_TRUE(dump(tables::VMAILBOX).empty());
    MailnameManager::removeMailname("example.com", "info", korvo::mail::Remove);
}

TEST_F(MailnameManagerTest, NamesStoredInOneLetterCaseAreRemovedInTheOther) {
    addDomain("Example.COM", {"Alias.Example"});
    addMailname("Example.COM", "Info", {"Sales"});
    MailnameManager::createMailname("Example.COM", "Info");
    MailnameManager::createMailAlias("Example.COM", "Info", "Sales");
    DomainManager::createDomainAlias("Example.COM", "Alias.Example");
    fill(tables::VIRTUAL, "boss@other.example INFO@ALIAS.EXAMPLE, x@other.example\n");

    DomainManager::removeDomainAlias("alias.example");
    MailnameManager::removeMailAlias("example.com", "info", "sales");
    MailnameManager::removeMailname("example.com", "info", korvo::mail::Leave);
    EXPECT_EQ(dump(tables::VIRTUAL), (Content{{"boss@other.example", "x@other.example"}}));
    EXPECT_TRUE(dump(tables::VMAILBOX).empty());
}

TEST_F(MailnameManagerTest, RenameMovesRecordsListsAndHomeOrRestoresBothTablesExactly) {
    addDomain("example.com", {"alias.example"});
    MailnameManager::createMailname("example.com", "info");
    fill(tables::VIRTUAL, "boss@other.example info@example.com, x@other.example\n");
    const Content virtualTable = dump(tables::VIRTUAL);
    const Content mailboxes = dump(tables::VMAILBOX);

    boost::filesystem::create_directories(std::string(homes) + "example.com/taken/Maildir");
    EXPECT_THROW(MailnameManager::renameMailname("example.com", "info", "taken"), std::exception);
    EXPECT_EQ(dump(tables::VIRTUAL), virtualTable);
    EXPECT_EQ(dump(tables::VMAILBOX), mailboxes);

    // A list element is found whatever its letter case.
    fill(tables::VIRTUAL, "boss@other.example Info@Example.com, x@other.example\n");
    MailnameManager::renameMailname("example.com", "info", "office");
    MailnameManager::renameMailnameOnDomainAlias("alias.example", "info", "office");
    EXPECT_TRUE(isDirectory(std::string(homes) + "example.com/office/Maildir"));
    EXPECT_EQ(dump(tables::VMAILBOX),
              (Content{{"office@example.com", "example.com/office/Maildir/"}}));
    EXPECT_EQ(dump(tables::VIRTUAL),
              (Content{{"office@example.com", "office@example.com"},
                       {"office@alias.example", "office@example.com"},
                       {"boss@other.example", "office@example.com, x@other.example"}}));
}

// A rename stopped after moving the home is finished by running it again;
// with neither home on disk it fails and restores the tables.
TEST_F(MailnameManagerTest, RenameRunAgainFinishesAfterTheHomeMoved) {
    addDomain("example.com", {"alias.example"});
    MailnameManager::createMailname("example.com", "info");
    const std::string home = std::string(homes) + "example.com/";
    boost::filesystem::rename(home + "info", home + "office");
    MailnameManager::renameMailname("example.com", "info", "office");
    const Content mailboxes{{"office@example.com", "example.com/office/Maildir/"}};
    EXPECT_EQ(dump(tables::VMAILBOX), mailboxes);
    EXPECT_EQ(dump(tables::VIRTUAL), (Content{{"office@example.com", "office@example.com"},
                                              {"info@alias.example", "office@example.com"}}));
    MailnameManager::renameMailname("example.com", "info", "office");
    EXPECT_EQ(dump(tables::VMAILBOX), mailboxes);
    EXPECT_TRUE(isDirectory(home + "office/Maildir/cur"));

    MailnameManager::createMailname("example.com", "sales");
    boost::filesystem::remove_all(home + "sales");
    const Content before = dump(tables::VMAILBOX);
    EXPECT_THROW(MailnameManager::renameMailname("example.com", "sales", "shop"),
                 boost::filesystem::filesystem_error);
    EXPECT_EQ(dump(tables::VMAILBOX), before);
    EXPECT_FALSE(boost::filesystem::exists(home + "shop"));
}

// A failed quota (domain unknown to the panel) removes a new home, never an old one.
TEST_F(MailnameManagerTest, FailedCreationRemovesOnlyTheHomeItMade) {
    const std::string home = std::string(homes) + "unknown.example/info";
    EXPECT_THROW(MailnameManager::createMailname("unknown.example", "info"), korvo::mail::FSError);
    EXPECT_FALSE(boost::filesystem::exists(home));

    boost::filesystem::create_directories(home + "/Maildir/cur");
    korvo::test::writeFile(home + "/Maildir/cur/1.host", "mail\n");
    EXPECT_THROW(MailnameManager::createMailname("unknown.example", "info"), korvo::mail::FSError);
    EXPECT_EQ(korvo::test::readFile(home + "/Maildir/cur/1.host"), "mail\n");
}

} // namespace
