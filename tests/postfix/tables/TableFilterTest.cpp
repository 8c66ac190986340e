#include "postfix/tables/DataStreamFilter.h"
#include "postfix/tables/DatabaseHelper.h"
#include "postfix/tables/ElementFilters.h"
#include "utils/Exceptions.h"

#include "TableFixture.h"

#include <boost/algorithm/string/predicate.hpp>
#include <sstream>

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
    testing::internal::CaptureStderr();
    for (const std::string chunk :
         {"a@x\tb@y\nk@y \t ,a@x,b@y  c", "@y\t,, x,\nlone", "ly\nv@y \t \nk@y a@x, x\nd@y\te@y"}) {
        stream.filterChunk(std::vector<char>(chunk.begin(), chunk.end()));
    }
    EXPECT_EQ(out.str(), "k@y b@y, c@y\n");
    stream.finish();
    EXPECT_EQ(out.str(), "k@y b@y, c@y\nd@y e@y\n");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "invalid key/value 'lonely'\n");
}

TEST_F(LookupTableTest, FilterRecordsRewritesTheWholeTable) {
    const ElementsFilter<NotInDomain> removal({"d"});
    EXPECT_EQ(failure<PostfixConfigurationError>([&] {
                  DatabaseHelper::filterRecords(table, removal);
              }).rfind("postmap: fatal: open database " + source, 0),
              0u);
    EXPECT_FALSE(sourceLeft());

    std::string lines = "a@d b@o\nc@o a@d,d@o\ne@o a@d\n";
    for (int i = 0; i < 3000; ++i) {
        lines += "u" + std::to_string(i) + "@o a@d,  v" + std::to_string(i) + "@o\n";
    }
    fill(lines);
    DatabaseHelper::filterRecords(table, removal);
    const Content content = dump();
    EXPECT_EQ(content.size(), 3001u);
    EXPECT_EQ(content.at("c@o"), "d@o");
    EXPECT_EQ(content.at("u2999@o"), "v2999@o");

    const std::string from = "c@o", to = "r@o";
    const ReplaceElementFilterRef rename(from, to);
    DatabaseHelper::filterRecords(
        table, KeyValueFilter<ReplaceElementFilterRef, ReplaceElementFilterRef>(rename, rename));
    EXPECT_EQ(query("r@o"), "d@o");
    EXPECT_EQ(query("c@o"), "(none)");
    EXPECT_FALSE(sourceLeft());
}

} // namespace
} // namespace korvo::mail::postfix::database
