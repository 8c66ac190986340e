// Every command parses its options through this helper: a mistake here
// either runs a command with a missing value or refuses a valid one.
#include "front/OptionValueTypes.h"
#include "front/ProgramOptionsHelper.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace po = boost::program_options;

namespace korvo::mail::postfix::vornctl_commands {
namespace {

// Holds an argv for the parser; the first word is the command word.
class Argv {
public:
    Argv(std::initializer_list<std::string> words) : words_(words) {
        for (auto& w : words_)
            pointers_.push_back(w.data());
        pointers_.push_back(nullptr);
    }
    int argc() const { return static_cast<int>(words_.size()); }
    char** argv() { return pointers_.data(); }

private:
    std::vector<std::string> words_;
    std::vector<char*> pointers_;
};

void declareMailname(ProgramOptionsHelper& helper) {
    ProgramOptionsHelper::OptionAppender declare(helper);
    declare("domain-name", po::value<std::string>(), "domain name", true)(
        "mailname", po::value<std::string>(), "mail name", true)("in-blocks", "size in blocks");
}

void parseMailname(Argv args) {
    ProgramOptionsHelper helper("get mailbox size", "--get-mailbox-size --domain-name=<d>");
    declareMailname(helper);
    standardOptionsParse(helper, args.argc(), args.argv());
}

TEST(OptionsTest, ValuesSwitchesAndRefusals) {
    ProgramOptionsHelper helper("d", "s");
    declareMailname(helper);
    Argv args{"--get-mailbox-size", "--domain-name=example.com", "--mailname", "info", "--in-b"};
    standardOptionsParse(helper, args.argc(), args.argv());
    EXPECT_EQ(helper.variables["domain-name"].as<std::string>(), "example.com");
    EXPECT_EQ(helper.variables["mailname"].as<std::string>(), "info");
    EXPECT_EQ(helper.variables.count("in-blocks"), 1u); // an unambiguous prefix is enough

    EXPECT_EXIT(parseMailname({"--x", "--domain-name=a", "--mailname=b", "--bogus"}),
                testing::ExitedWithCode(1), "unrecognised option '--bogus'");
    EXPECT_EXIT(parseMailname({"--x", "--domain-name=a", "--domain-name=b", "--mailname=c"}),
                testing::ExitedWithCode(1), "cannot be specified more than once");
}

template <class T> T parseValue(std::initializer_list<std::string> words) {
    ProgramOptionsHelper helper("d", "s");
    ProgramOptionsHelper::OptionAppender declare(helper);
    declare("value", po::value<T>(), "v", true);
    Argv args(words);
    standardOptionsParse(helper, args.argc(), args.argv());
    return helper.variables["value"].as<T>();
}

TEST(OptionValueTypesTest, MaskBoundsAndComponentLists) {
    EXPECT_EQ(parseValue<IPv4Mask>({"c", "--value=0"}).prefix, 0);
    EXPECT_EQ(parseValue<IPv4Mask>({"c", "--value=32"}).prefix, 32);
    // Mail components unite across occurrences.
    using C = SelectedMailComponents;
    EXPECT_EQ(parseValue<C>({"c", "--value=smtp", "--value=imaps", "--value=smtp"}).components,
              0x82u);
    EXPECT_EQ(parseValue<C>({"c", "--value=all"}).components, 0xFFFFu);
}

} // namespace
} // namespace korvo::mail::postfix::vornctl_commands
