// A scratch table read back with postmap itself, never the code under test.
#ifndef KORVO_TESTS_POSTFIX_TABLEFIXTURE_H
#define KORVO_TESTS_POSTFIX_TABLEFIXTURE_H

#include "sandbox/CommandRunner.h"
#include "sandbox/PostmapTables.h"
#include "sandbox/Sandbox.h"

#include <list>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

namespace korvo::test {

class LookupTableTest : public SandboxTest {
protected:
    using Content = TableContent;
    using Record = std::pair<std::string, std::string>;
    using Records = std::vector<Record>;
    using RecordList = std::list<Record>;
    using Keys = std::list<std::string>;

    const std::string table = "hash:/var/spool/postfix/korvo/t";
    const std::string source = "/var/spool/postfix/korvo/t";
    const std::string missing = "hash:/var/spool/postfix/korvo/missing/t";

    static Content dump(const std::string& name = "hash:/var/spool/postfix/korvo/t") {
        return dumpTable(name);
    }

    std::string query(const std::string& key) const {
        const CommandResult result = runCommand({"/usr/sbin/postmap", "-q", key, table});
        return result.status == 0 ? result.out.substr(0, result.out.size() - 1) : "(none)";
    }

    void fill(const std::string& lines) const {
        ASSERT_EQ(runCommand({"/usr/sbin/postmap", "-i", table}, {}, lines).status, 0);
    }

    bool sourceLeft() const { return ::access(source.c_str(), F_OK) == 0; }

    // The what() of the E that f throws; "" when it throws none.
    template <class E, class F> static std::string failure(F f) {
        try {
            f();
        } catch (const E& e) {
            return e.what();
        }
        return "";
    }
};

} // namespace korvo::test

#endif
