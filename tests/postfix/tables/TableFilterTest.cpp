#include "postfix/tables/DataStreamFilter.h"
#include "postfix/tables/ElementFilters.h"
#include "sandbox/CapturedOutput.h"

#include <boost/algorithm/string/predicate.hpp>
#include <gtest/gtest.h>
#include <sstream>

namespace korvo::mail::postfix::database {
namespace {

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

} // namespace
} // namespace korvo::mail::postfix::database
