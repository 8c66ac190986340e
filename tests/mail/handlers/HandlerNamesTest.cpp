// The delivery side runs the handlers of a queue in this order.
#include "mail/HandlerNames.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

TEST(HandlerNamesTest, SortByPriorityReadWithPercentIThenTemplateThenRandomPart) {
    std::vector<std::string> names = {"10-b-aaaaaa", "9-m-xxxxxx",   "010-a-bbbbbb",
                                      "10-a-cccccc", "0x5-z-aaaaaa", "10-a-bbbbbb"};
    std::vector<char*> pointers;
    for (std::string& name : names)
        pointers.push_back(&name[0]);
    handlers_sort(pointers.data(), pointers.size());
    const std::vector<std::string> sorted(pointers.begin(), pointers.end());
    EXPECT_EQ(sorted, (std::vector<std::string>{"0x5-z-aaaaaa", "010-a-bbbbbb", "9-m-xxxxxx",
                                                "10-a-bbbbbb", "10-a-cccccc", "10-b-aaaaaa"}));
    EXPECT_EQ(handlers_compare("5-a-x", "10-a-x"), -1);
    EXPECT_EQ(handlers_compare("0x10-a-x", "16-a-x"), 0);
}

TEST(HandlerNamesTest, NamesAreCutAtTheFirstAndLastDash) {
    HandlerNameParts parts;
    ASSERT_EQ(handler_name_split("10-spam-check-Qd83Kx", &parts), 0);
    EXPECT_EQ(parts.priority, "10");
    EXPECT_EQ(parts.templ, "spam-check");
    EXPECT_EQ(parts.random, "Qd83Kx");
    EXPECT_EQ(handler_name_split("nodash", &parts), -1);
    EXPECT_EQ(handler_name_split("10-onlyone", &parts), -1);
    EXPECT_EQ(handler_name_split("10--Qd83Kx", &parts), -1);
}

} // namespace
