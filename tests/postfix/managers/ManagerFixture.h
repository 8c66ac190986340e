// Empty tables, mail homes and panel rows; read back with postmap, never the code under test.
#ifndef KORVO_TESTS_POSTFIX_MANAGERFIXTURE_H
#define KORVO_TESTS_POSTFIX_MANAGERFIXTURE_H

#include "postfix/tables/Tables.h"
#include "sandbox/PanelDatabase.h"
#include "sandbox/PostmapTables.h"
#include "sandbox/TestFiles.h"

#include <string>

namespace korvo::test {

class ManagerTest : public PanelDatabaseTest {
protected:
    using Content = TableContent;

    void SetUp() override {
        PanelDatabaseTest::SetUp();
        namespace tables = korvo::mail::postfix::tables;
        for (const char* table :
             {tables::VIRTUAL, tables::VMAILBOX, tables::VIRTUAL_DOMAINS, tables::ALIASES})
            fillTable(table, "");
    }

    static Content dump(const std::string& table) { return dumpTable(table); }

    static Content standardAddresses(const std::string& domain) {
        Content content;
        for (const char* name : korvo::mail::postfix::tables::STANDARD_ADDRESS_NAMES)
            content[std::string(name) + "@" + domain] =
                std::string(name) + "@localhost.localdomain";
        return content;
    }

    static Content with(Content content, const Content& more) {
        content.insert(more.begin(), more.end());
        return content;
    }

    static constexpr const char* homes = "/var/qmail/mailnames/";

    static bool isDirectory(const std::string& path) { return S_ISDIR(statOf(path).st_mode); }
};

} // namespace korvo::test

#endif
