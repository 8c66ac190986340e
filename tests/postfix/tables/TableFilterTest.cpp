#include "postfix/tables/DataStreamFilter.h"
#include "postfix/tables/DatabaseHelper.h"
#include "postfix/tables/ElementFilters.h"
#include "utils/Exceptions.h"

#include "TableFixture.h"
#include "sandbox/CapturedOutput.h"

#include <algorithm>
#include <boost/algorithm/string/predicate.hpp>
#include <functional>
#include <poll.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace korvo::mail::postfix::database {
namespace {

using test::LookupTableTest;

// Drops the domain itself and its addresses.
struct NotInDomain {
    std::string domain;
    bool operator()(std::string& item) const {
        return item != domain && !boost::algorithm::ends_with(item, "@" + domain);
    }
};

TEST(DataStreamFilter, FiltersLinesCutAnywhereAndRejoinsLists) {
    DataStreamFilter<ElementsFilter<NotInDomain>> stream(ElementsFilter<NotInDomain>({"x"}));
    std::ostringstream out;
    stream.setOutput(out);
    korvo::test::CapturedStderr capturedStderr;
    for (const std::string chunk :
         {"a@x\tb@y\nk@y \t ,a@x,b@y  c", "@y\t,, x,\nlone", "ly\nv@y \t \nk@y a@x, x\nd@y\te@y"}) {
        stream.filterChunk(std::vector<char>(chunk.begin(), chunk.end()));
    }
    EXPECT_EQ(out.str(), "k@y b@y, c@y\n");
    stream.finish();
    EXPECT_EQ(out.str(), "k@y b@y, c@y\nd@y e@y\n");
    EXPECT_EQ(capturedStderr.text(), "invalid key/value 'lonely'\n");
}

TEST_F(LookupTableTest, FilterRecordsRewritesTheWholeTable) {
    const ElementsFilter<NotInDomain> removal({"d"});
    EXPECT_THROW(DatabaseHelper::filterRecords(table, removal), PostfixConfigurationError);
    EXPECT_FALSE(sourceLeft());

    std::string lines = "a@d b@o\nc@o a@d,d@o\ne@o a@d\n";
    for (int i = 0; i < 3000; ++i)
        lines += "u" + std::to_string(i) + "@o a@d,  v" + std::to_string(i) + "@o\n";
    fill(lines);
    DatabaseHelper::filterRecords(table, removal);
    const Content content = dump();
    EXPECT_EQ(content.size(), 3001u);
    EXPECT_EQ(content.at("c@o"), "d@o");
    EXPECT_EQ(content.at("u2999@o"), "v2999@o");
    EXPECT_FALSE(sourceLeft());
}

// Rounds of a child rewriting the table, as a domain removal does, during change; -1 on failure.
int filterRoundsDuring(const std::string& table, const std::function<void()>& change) {
    int stop[2];
    if (::pipe(stop) != 0)
        return -1;
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(stop[1]);
        const std::string from = "nobody@nowhere", to = "x@nowhere";
        const ElementsFilter<ReplaceElementFilterRef> unchanged({from, to});
        pollfd ask{stop[0], POLLIN, 0};
        int rounds = 0;
        try {
            for (; ::poll(&ask, 1, 0) == 0; rounds = std::min(rounds + 1, 254))
                DatabaseHelper::filterRecords(table, unchanged);
        } catch (...) {
            ::_exit(255);
        }
        ::_exit(rounds);
    }
    ::close(stop[0]);
    change();
    ::close(stop[1]);
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) != 255 ? WEXITSTATUS(status) : -1;
}

// With the lock no change falls between a rewrite's dump and rebuild; without it some do.
TEST_F(LookupTableTest, RecordChangesDuringWholeTableRewritesAreKept) {
    std::string lines;
    for (int i = 0; i < 5000; ++i)
        lines += "f" + std::to_string(i) + "@o v@o\n";
    fill(lines);
    const int changes = 20;
    const auto newKey = [](const std::string& run, int i) {
        return run + std::to_string(i) + "@n";
    };
    const auto lostBeside = [&](const std::string& run,
                                const std::function<void(const std::string&)>& change) {
        const int rounds = filterRoundsDuring(table, [&] {
            for (int i = 0; i < changes; ++i)
                change(newKey(run, i));
        });
        EXPECT_GT(rounds, 1) << "no rewrite ran beside the changes";
        const Content content = dump();
        int lost = 0;
        for (int i = 0; i < changes; ++i)
            lost += content.count(newKey(run, i)) == 0 ? 1 : 0;
        return lost;
    };

    const int lostUnlocked = lostBeside("bypass", [&](const std::string& key) {
        test::runCommand({"/usr/sbin/postmap", "-r", "-i", table}, {}, key + " v@n\n");
    });
    EXPECT_GT(lostUnlocked, 0) << "without the lock no change was lost: the test proves nothing";

    int removed = 0;
    EXPECT_EQ(lostBeside("locked",
                         [&](const std::string& key) {
                             DatabaseHelper::addRecord(table, key, "v@n");
                             DatabaseHelper::removeRecord(table,
                                                          "f" + std::to_string(removed++) + "@o");
                         }),
              0);
    const Content content = dump();
    for (int i = 0; i < removed; ++i)
        EXPECT_EQ(content.count("f" + std::to_string(i) + "@o"), 0u) << "f" << i << " came back";
}

} // namespace
} // namespace korvo::mail::postfix::database
