#include "postfix/tables/DatabaseHelper.h"
#include "postfix/tables/PostfixUtilities.h"
#include "process/Pipe.h"
#include "utils/Exceptions.h"

#include "TableFixture.h"

#include <fstream>
#include <sys/wait.h>

namespace korvo::mail::postfix {
namespace {

using test::LookupTableTest;

TEST_F(LookupTableTest, AddsOverwritesAndRemovesRecords) {
    const Records records = {{"a@x", "b@y, c@y"}, {"Info@X", "Q@Y"}, {"d@x", "d@x"}};
    DatabaseHelper::addRecords(table, records.begin(), records.end());
    DatabaseHelper::addRecord(table, "a@x", "z@y");
    EXPECT_EQ(dump(), (Content{{"a@x", "z@y"}, {"info@x", "Q@Y"}, {"d@x", "d@x"}}));
    EXPECT_EQ(query("info@x"), "Q@Y");

    DatabaseHelper::removeRecord(table, "d@x");
    DatabaseHelper::removeRecord(table, "absent@x");
    const Keys keys = {"absent@y", "a@x"};
    DatabaseHelper::removeRecords(table, keys.begin(), keys.end());
    EXPECT_EQ(dump(), (Content{{"info@x", "Q@Y"}}));
    EXPECT_FALSE(sourceLeft());

    // Empty ranges start no postmap (it would fail here).
    DatabaseHelper::addRecords(missing, records.end(), records.end());
    DatabaseHelper::removeRecords(missing, keys.end(), keys.end());
}

TEST_F(LookupTableTest, FailuresCarryPostmapsErrorText) {
    const std::string opening =
        "postmap: fatal: open database /var/spool/postfix/korvo/missing/t.db";
    const Keys keys = {"a"};
    EXPECT_EQ(failure<PostfixConfigurationError>([&] {
                  DatabaseHelper::addRecord(missing, "a", "b");
              }).rfind(opening, 0),
              0u);
    EXPECT_EQ(failure<PostfixDatabaseError>([&] {
                  DatabaseHelper::removeRecords(missing, keys.begin(), keys.end());
              }).rfind(opening, 0),
              0u);

    fill("a b\n");
    // Postfix warns about every parameter that main.cf sets twice.
    std::ofstream("/etc/postfix/main.cf", std::ios::app) << "myhostname = x\nmyhostname = y\n";
    EXPECT_NO_THROW(DatabaseHelper::removeRecord(table, "absent"));
    const std::string error =
        failure<PostfixDatabaseError>([&] { DatabaseHelper::removeRecord(missing, "a"); });
    EXPECT_EQ(error.rfind("postmap: warning: /etc/postfix/main.cf", 0), 0u) << error;
    EXPECT_NE(error.find(opening), std::string::npos);

    EXPECT_TRUE(checkOutput("postmap: warning: x: y\nfatal: x\npostmap: error\nx:\n"));
    EXPECT_FALSE(checkOutput("postmap: warning: x: y\npostmap:   panic: no"));
    EXPECT_FALSE(checkOutput("postmap: error:"));

    // A killed program is named with its signal; a silent failure is "unknown error".
    process::Pipe killed(process::Parameters<process::PipeProcessFlags>(
        "/bin/sh", "-c", "printf 'said' >&2; kill -9 $$", "", "", "", "", "", "", ""));
    std::string errors;
    EXPECT_TRUE(WIFSIGNALED(utilities::runCollectingErrors(killed, errors)));
    EXPECT_EQ(utilities::errorMessage(errors), "said\nsh killed by signal 9");
    process::Pipe failing(process::Parameters<process::PipeProcessFlags>(
        "/bin/sh", "-c", "exit 3", "", "", "", "", "", "", ""));
    errors.clear();
    EXPECT_FALSE(utilities::exitedSuccessfully(utilities::runCollectingErrors(failing, errors)));
    EXPECT_EQ(utilities::errorMessage(errors), "unknown error");
}

TEST_F(LookupTableTest, ReplaceRecordsMakesTheWholeContent) {
    fill("a 1\nb 2\n");
    const RecordList records = {{"c", "3"}, {"d", "4 5"}};
    DatabaseHelper::replaceRecords(table, records.begin(), records.end());
    EXPECT_EQ(dump(), (Content{{"c", "3"}, {"d", "4 5"}}));
    DatabaseHelper::replaceRecords(table, records.end(), records.end());
    EXPECT_EQ(dump(), Content{});
    EXPECT_FALSE(sourceLeft());

    const std::string unsupported = "nosuchtype:" + source;
    EXPECT_EQ(failure<PostfixConfigurationError>([&] {
                  DatabaseHelper::replaceRecords(unsupported, records.begin(), records.end());
              }).rfind("postmap: fatal: unsupported dictionary type: nosuchtype", 0),
              0u);
    EXPECT_FALSE(sourceLeft());
    EXPECT_THROW(DatabaseHelper::replaceRecords(missing, records.begin(), records.end()),
                 std::ios_base::failure);
}

TEST_F(LookupTableTest, RecordsThatWouldInjectOthersAreRefused) {
    fill("a 1\n");
    const std::vector<std::pair<Records, std::string>> refused = {
        {{{"b", "2"}, {"c d", "3"}}, "c d"},
        {{{"b", "2"}, {"c\td", "3"}}, "c\td"},
        {{{"b", "2\nevil 3"}}, "2\nevil 3"},
        {{{"b", "2"}, {"", "3"}}, ""},
        {{{"#b", "2"}}, "#b"},
        {{{"b", ""}}, ""},
        // postmap would only warn and keep the old value:
        {{{"a", " \t "}}, " \t "},
        {{{"a", "\xff"}}, "\xff"},
        {{{"b\xc0\xaf", "2"}}, "b\xc0\xaf"}};
    for (const auto& [records, offender] : refused) {
        const std::string error = failure<std::invalid_argument>(
            [&] { DatabaseHelper::addRecords(table, records.begin(), records.end()); });
        EXPECT_NE(error.find("'" + offender + "'"), std::string::npos) << error;
        EXPECT_THROW(DatabaseHelper::replaceRecords(table, records.begin(), records.end()),
                     std::invalid_argument);
    }
    const Keys keys = {"b", "a\nb"};
    EXPECT_THROW(DatabaseHelper::removeRecords(table, keys.begin(), keys.end()),
                 std::invalid_argument);
    EXPECT_EQ(dump(), (Content{{"a", "1"}}));
}

// Valid UTF-8 as postmap sees it: what it would silently drop is refused.
TEST_F(LookupTableTest, InvalidUtf8IsRefusedExactlyWherePostmapWouldDropIt) {
    const std::vector<std::string> texts = {"\xc3\xa9",
                                            "\xe2\x82\xac",
                                            "\xf0\x9f\x98\x80",
                                            "\xef\xbf\xbf",
                                            "\xf4\x8f\xbf\xbf",
                                            "\xff",
                                            "\x80",
                                            "\xc0\xaf",
                                            "\xe0\x80\xaf",
                                            "\xed\xa0\x80",
                                            "\xf4\x90\x80\x80",
                                            "\xe2\x82",
                                            "\xf8\x88\x80\x80\x80"};
    int key = 0;
    for (const std::string& text : texts) {
        const std::string name = "k" + std::to_string(++key);
        const test::CommandResult raw = test::runCommand({"/usr/sbin/postmap", "-r", "-i", table},
                                                         {}, name + " v" + text + "\n");
        ASSERT_EQ(raw.status, 0) << raw.err;
        const bool postmapStores = query(name) == "v" + text;
        EXPECT_EQ(isValidUtf8(text), postmapStores) << testing::PrintToString(text);
        if (postmapStores) {
            DatabaseHelper::addRecord(table, name + text, text);
            EXPECT_EQ(query(name + text), text);
        } else {
            EXPECT_THROW(DatabaseHelper::addRecord(table, name, text), std::invalid_argument);
            EXPECT_THROW(DatabaseHelper::removeRecord(table, name + text), std::invalid_argument);
        }
    }
}

} // namespace
} // namespace korvo::mail::postfix
