// A scratch lookup table under /var/spool/postfix/korvo for the table tests,
// read back with postmap itself, never through the code under test.
#ifndef KORVO_TESTS_POSTFIX_TABLEFIXTURE_H
#define KORVO_TESTS_POSTFIX_TABLEFIXTURE_H

#include "sandbox/CommandRunner.h"
#include "sandbox/Sandbox.h"

#include <map>
#include <string>
#include <unistd.h>

namespace korvo::test {

class LookupTableTest : public SandboxTest {
protected:
    using Content = std::map<std::string, std::string>;

    const std::string table = "hash:/var/spool/postfix/korvo/t";
    const std::string source = "/var/spool/postfix/korvo/t";
    const std::string missing = "hash:/var/spool/postfix/korvo/missing/t";

    // Every record, from "postmap -s"; fails the test when postmap does.
    Content dump(const std::string& name) const {
        const CommandResult result = runCommand({"/usr/sbin/postmap", "-s", name});
        EXPECT_EQ(result.status, 0) << result.err;
        Content content;
        std::string::size_type begin = 0;
        for (std::string::size_type end; (end = result.out.find('\n', begin)) != std::string::npos;
             begin = end + 1) {
            const std::string line = result.out.substr(begin, end - begin);
            const std::string::size_type tab = line.find('\t');
            content[line.substr(0, tab)] = line.substr(tab + 1);
        }
        return content;
    }
    Content dump() const { return dump(table); }

    // The value "postmap -q" finds, or "(none)".
    std::string query(const std::string& key) const {
        const CommandResult result = runCommand({"/usr/sbin/postmap", "-q", key, table});
        return result.status == 0 ? result.out.substr(0, result.out.size() - 1) : "(none)";
    }

    void fill(const std::string& lines) const {
        ASSERT_EQ(runCommand({"/usr/sbin/postmap", "-i", table}, {}, lines).status, 0);
    }

    bool sourceLeft() const { return ::access(source.c_str(), F_OK) == 0; }
};

} // namespace korvo::test

#endif
