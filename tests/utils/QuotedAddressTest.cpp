#include "utils/QuotedAddress.h"

#include <gtest/gtest.h>

namespace korvo {
namespace {

TEST(QuotedAddressTest, QuotesOnlyALocalPartThatIsNoDotAtom) {
    const std::pair<const char*, const char*> cases[] = {
        {"", ""},
        {"first.last+tag@example.org", "first.last+tag@example.org"},
        {"o'brien/x=y@example.org", "o'brien/x=y@example.org"},
        {"a..b@example.org", "\"a..b\"@example.org"},
        {"say \"hi\\\"@example.org", "\"say \\\"hi\\\\\\\"\"@example.org"},
        {"a@b@example.org", "\"a@b\"@example.org"},
    };
    for (const auto& [address, quoted] : cases)
        EXPECT_EQ(quoted, quotedAddress(address)) << address;
}

} // namespace
} // namespace korvo
