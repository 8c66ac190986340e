#include "postfix/managers/DomainManager.h"

#include "ManagerFixture.h"

#include <boost/filesystem.hpp>

namespace {

using namespace korvo::mail::postfix;
using namespace korvo::test;
using DomainManagerTest = ManagerTest;

// Only the domain's own addresses go: not those of xexample.com or a subdomain.
TEST_F(DomainManagerTest, RemovalPrunesForwardingListsAndDropsWhatWouldForwardNowhere) {
    DomainManager::createDomain("example.com", false);
    fillTable(tables::VIRTUAL, "info@example.com info@example.com\n"
                               "@example.com info@example.com\n"
                               "boss@other.example INFO@Example.COM, keep@other.example\n"
                               "only@other.example sales@example.com\n"
                               "x@xexample.com x@xexample.com\n"
                               "a@mail.example.com a@mail.example.com\n");
    fillTable(tables::VMAILBOX, "info@example.com example.com/info/Maildir/\n"
                                "x@xexample.com xexample.com/x/Maildir/\n");
    DomainManager::removeDomain("example.com", korvo::mail::Remove);
    EXPECT_FALSE(boost::filesystem::exists(std::string(homes) + "example.com"));
    EXPECT_TRUE(dump(tables::VIRTUAL_DOMAINS).empty());
    EXPECT_EQ(dump(tables::VIRTUAL), (Content{{"boss@other.example", "keep@other.example"},
                                              {"x@xexample.com", "x@xexample.com"},
                                              {"a@mail.example.com", "a@mail.example.com"}}));
    EXPECT_EQ(dump(tables::VMAILBOX), (Content{{"x@xexample.com", "xexample.com/x/Maildir/"}}));
    DomainManager::removeDomainReferences("Example.com", true);
    EXPECT_EQ(dump(tables::VIRTUAL).count("a@mail.example.com"), 0u);
}

// The bounce phrase is escaped for the aliases file and covers every domain alias.
TEST_F(DomainManagerTest, BounceCoversEveryDomainAlias) {
    addDomain("example.com", {"alias1.example", "alias2.example"});
    DomainManager::setBounce("example.com", "Gone away.\nTry later");
    const Content aliases = dump(tables::ALIASES);
    EXPECT_EQ(aliases.at("_korvo_bounce_example.com"), "\"|/usr/lib64/korvo-9.0/bouncemessage"
                                                       R"( Gone\\\ away.\\\ Try\\\ later")");
    EXPECT_EQ(aliases.at("_korvo_bounce_alias2.example"), aliases.at("_korvo_bounce_example.com"));
}

// Forwarding lists naming the alias's addresses follow its rename and removal.
TEST_F(DomainManagerTest, DomainAliasRenameAndRemovalReachForwardingLists) {
    addDomain("example.com");
    addMailname("example.com", "info");
    DomainManager::createDomainAlias("example.com", "alias.example");
    fillTable(tables::VIRTUAL, "ext@other.example info@alias.example, x@other.example\n");
    DomainManager::renameDomainAlias("ALIAS.example", "new.example");
    EXPECT_EQ(dump(tables::VIRTUAL),
              with(standardAddresses("new.example"),
                   {{"new.example", "1"},
                    {"info@new.example", "info@example.com"},
                    {"ext@other.example", "info@new.example, x@other.example"}}));
    DomainManager::removeDomainAlias("New.Example");
    EXPECT_EQ(dump(tables::VIRTUAL), (Content{{"ext@other.example", "x@other.example"}}));

    // A domain replacing an alias of the same name leaves none of the alias's records.
    DomainManager::createDomainAlias("example.com", "alias.example");
    DomainManager::createDomain("alias.example", true);
    EXPECT_EQ(dump(tables::VIRTUAL),
              with(standardAddresses("alias.example"), {{"ext@other.example", "x@other.example"}}));
}

TEST_F(DomainManagerTest, DomainRenameMovesAllThreeTablesOrRestoresThemExactly) {
    DomainManager::createDomain("old.example", false);
    fillTable(tables::VIRTUAL, "info@old.example info@old.example\n"
                               "boss@other.example info@old.example, x@other.example\n");
    fillTable(tables::VMAILBOX, "info@old.example old.example/info/Maildir/\n"
                                "a@old.example.net old.example.net/a/Maildir/\n");
    const auto all = [] {
        return std::vector<Content>{dump(tables::VIRTUAL_DOMAINS), dump(tables::VIRTUAL),
                                    dump(tables::VMAILBOX)};
    };
    const std::vector<Content> before = all();
    boost::filesystem::create_directories(std::string(homes) + "taken.example/info");
    EXPECT_THROW(DomainManager::renameDomain("old.example", "taken.example"), std::exception);
    EXPECT_EQ(all(), before);

    DomainManager::renameDomain("old.example", "new.example");
    EXPECT_TRUE(isDirectory(std::string(homes) + "new.example"));
    EXPECT_EQ(all(), (std::vector<Content>{
                         {{"new.example", "old.example/"}},
                         with(standardAddresses("new.example"),
                              {{"info@new.example", "info@new.example"},
                               {"boss@other.example", "info@new.example, x@other.example"}}),
                         {{"info@new.example", "new.example/info/Maildir/"},
                          {"a@old.example.net", "old.example.net/a/Maildir/"}}}));
}

} // namespace
