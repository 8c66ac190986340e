// A scratch table read back with postmap itself, never the code under test.
#ifndef KORVO_TESTS_POSTFIX_TABLEFIXTURE_H
#define KORVO_TESTS_POSTFIX_TABLEFIXTURE_H

#include "sandbox/PostmapTables.h"
#include "sandbox/Sandbox.h"
#include "sandbox/TestFiles.h"

#include <list>
#include <string>
#include <utility>
#include <vector>

namespace korvo::test {

class LookupTableTest : public SandboxTest {
protected:
    using Content = TableContent;
    using Records = std::vector<std::pair<std::string, std::string>>;
    using RecordList = std::list<std::pair<std::string, std::string>>;
    using Keys = std::list<std::string>;

    const std::string source = "/var/spool/postfix/korvo/t";
    const std::string table = "hash:" + source;
    const std::string missing = "hash:/var/spool/postfix/korvo/missing/t";

    Content dump() const { return dumpTable(table); }
    void fill(const std::string& lines) const { fillTable(table, lines); }

    std::string query(const std::string& key) const {
        const CommandResult result = runCommand({"/usr/sbin/postmap", "-q", key, table});
        return result.status == 0 ? result.out.substr(0, result.out.size() - 1) : "(none)";
    }
};

} // namespace korvo::test

#endif
