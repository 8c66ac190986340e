#include "postfix/DataStreamFilter.h"
#include "postfix/DatabaseHelper.h"
#include "postfix/ElementFilters.h"
#include "utils/Exceptions.h"

#include "TableFixture.h"

#include <sstream>

namespace korvo::mail::postfix::database {
namespace {

using test::LookupTableTest;
using Rename = ElementsFilter<ReplaceElementFilterRef>;

// Drops the domain itself and its addresses.
struct NotInDomain {
    std::string domain;
    bool operator()(std::string& item) const {
        const std::string address = "@" + domain;
        return item != domain &&
               (item.size() < address.size() ||
                item.compare(item.size() - address.size(), address.size(), address) != 0);
    }
};

// Captures what std::clog receives while it lives.
class ClogCapture {
public:
    ClogCapture() : saved(std::clog.rdbuf(text.rdbuf())) {}
    ~ClogCapture() { std::clog.rdbuf(saved); }
    std::string str() const { return text.str(); }

private:
    std::ostringstream text;
    std::streambuf* saved;
};

TEST(ElementFilters, ListsAndLinesAreSplitAndRejoined) {
    const std::string from = "a@x", to = "n@x";
    ValueListFilter<ReplaceElementFilterRef> list(ReplaceElementFilterRef(from, to));
    std::string value = ",a@x,b@y  c@y\t,, a@x,";
    EXPECT_TRUE(list(value));
    EXPECT_EQ(value, "n@x, b@y, c@y, n@x");

    ElementsFilter<NotInDomain> removal(NotInDomain{"x"});
    std::string line = "k@y \t a@x,  b@y\tx  ";
    EXPECT_TRUE(removal(line));
    EXPECT_EQ(line, "k@y b@y");
    line = "k@y a@x, x";
    EXPECT_FALSE(removal(line));
    line = "k@x b@y";
    EXPECT_FALSE(removal(line));

    ClogCapture clog;
    line = "k@y \t ";
    EXPECT_FALSE(removal(line));
    line = "lonely";
    EXPECT_FALSE(removal(line));
    EXPECT_EQ(clog.str(), "invalid key/value 'lonely'\n");
}

TEST(DataStreamFilter, LinesCutAcrossChunksAreJoined) {
    const std::string from = "a@x", to = "n@x";
    DataStreamFilter<Rename> stream(Rename(ReplaceElementFilterRef(from, to)));
    std::ostringstream out;
    stream.setOutput(out);
    ClogCapture clog;
    for (const std::string chunk : {"a@x\t1\nb", "@y 2,", "3\nlone", "ly\nc@y\ta@x"}) {
        stream.filterChunk(std::vector<char>(chunk.begin(), chunk.end()));
    }
    EXPECT_EQ(out.str(), "n@x 1\nb@y 2, 3\n");
    stream.finish();
    EXPECT_EQ(out.str(), "n@x 1\nb@y 2, 3\nc@y n@x\n");
    EXPECT_EQ(clog.str(), "invalid key/value 'lonely'\n");
}

TEST_F(LookupTableTest, FilterRecordsRewritesTheWholeTable) {
    std::string lines = "a@d b@o\nc@o a@d,d@o\ne@o a@d\n";
    for (int i = 0; i < 3000; ++i) {
        lines += "u" + std::to_string(i) + "@o a@d,  v" + std::to_string(i) + "@o\n";
    }
    fill(lines);
    DatabaseHelper::filterRecords(table, ElementsFilter<NotInDomain>(NotInDomain{"d"}));
    const Content content = dump();
    EXPECT_EQ(content.size(), 3001u);
    EXPECT_EQ(content.at("c@o"), "d@o");
    EXPECT_EQ(content.at("u2999@o"), "v2999@o");

    const std::string from = "c@o", to = "r@o";
    DatabaseHelper::filterRecords(
        table, KeyValueFilter<ReplaceElementFilterRef, ReplaceElementFilterRef>(
                   ReplaceElementFilterRef(from, to), ReplaceElementFilterRef(from, to)));
    EXPECT_EQ(query("r@o"), "d@o");
    EXPECT_EQ(query("c@o"), "(none)");
    EXPECT_FALSE(sourceLeft());
}

TEST_F(LookupTableTest, FailedDumpLeavesNoSourceFile) {
    try {
        DatabaseHelper::filterRecords(table, ElementsFilter<NotInDomain>(NotInDomain{"d"}));
        ADD_FAILURE() << "a table without database was dumped";
    } catch (const PostfixConfigurationError& e) {
        EXPECT_EQ(std::string(e.what()).rfind("postmap: fatal: open database " + source, 0), 0u);
    }
    EXPECT_FALSE(sourceLeft());
}

} // namespace
} // namespace korvo::mail::postfix::database
