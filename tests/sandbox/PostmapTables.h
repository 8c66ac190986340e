// Lookup tables read and seeded with postmap itself, never the code under test.
#ifndef KORVO_TESTS_SANDBOX_POSTMAPTABLES_H
#define KORVO_TESTS_SANDBOX_POSTMAPTABLES_H

#include "sandbox/CommandRunner.h"

#include <gtest/gtest.h>
#include <map>
#include <sstream>
#include <string>

namespace korvo::test {

using TableContent = std::map<std::string, std::string>;

// Every record of a table ("hash:PATH"), as "postmap -s" prints it.
inline TableContent dumpTable(const std::string& table) {
    const CommandResult result = runCommand({"/usr/sbin/postmap", "-s", table});
    EXPECT_EQ(result.status, 0) << result.err;
    std::istringstream lines(result.out);
    TableContent content;
    for (std::string key, value; std::getline(lines, key, '\t') && std::getline(lines, value);)
        content[key] = value;
    return content;
}

// Adds record lines ("key value\n") with "postmap -r -i"; creates the table.
inline void fillTable(const std::string& table, const std::string& lines) {
    const CommandResult result = runCommand({"/usr/sbin/postmap", "-r", "-i", table}, {}, lines);
    ASSERT_EQ(result.status, 0) << result.err;
}

} // namespace korvo::test

#endif
