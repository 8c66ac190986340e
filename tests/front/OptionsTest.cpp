// Every command parses its options through this helper: a mistake here
// either runs a command with a missing value or refuses a valid one.
#include "front/OptionValueTypes.h"
#include "front/ProgramOptionsHelper.h"

#include <boost/lexical_cast.hpp>
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

TEST(OptionsTest, ParsedValuesAndSwitchesAreReadable) {
    ProgramOptionsHelper helper("d", "s");
    declareMailname(helper);
    Argv args{"--get-mailbox-size", "--domain-name=example.com", "--mailname", "info", "--in-b"};
    standardOptionsParse(helper, args.argc(), args.argv());
    EXPECT_EQ(helper.variables["domain-name"].as<std::string>(), "example.com");
    EXPECT_EQ(helper.variables["mailname"].as<std::string>(), "info");
    EXPECT_EQ(helper.variables.count("in-blocks"), 1u); // an unambiguous prefix is enough
}

TEST(OptionsTest, OptionErrorsExitWithStatusOne) {
    EXPECT_EXIT(parseMailname({"--get-mailbox-size"}), testing::ExitedWithCode(1),
                "^mandatory option \"--mailname\" is not specified\n$");
    EXPECT_EXIT(parseMailname({"--get-mailbox-size", "--mailname=info"}),
                testing::ExitedWithCode(1),
                "^mandatory option \"--domain-name\" is not specified\n$");
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

TEST(OptionValueTypesTest, FormatsMasksAndComponents) {
    // The account format is case-sensitive.
    EXPECT_EQ(parseValue<ShortnameFormat>({"c", "--value=compound"}), ShortnameFormat::compound);
    EXPECT_EQ(parseValue<ShortnameFormat>({"c", "--value=both"}), ShortnameFormat::both);
    EXPECT_EXIT(parseValue<ShortnameFormat>({"c", "--value=Compound"}), testing::ExitedWithCode(1),
                "Compound");
    EXPECT_EXIT(parseValue<ShortnameFormat>({"c", "--value=both", "--value=both"}),
                testing::ExitedWithCode(1), "more than once");
    // IPv4 masks: 0 to 32.
    EXPECT_EQ(parseValue<IPv4Mask>({"c", "--value=0"}).prefix, 0);
    EXPECT_EQ(parseValue<IPv4Mask>({"c", "--value=32"}).prefix, 32);
    EXPECT_EXIT(parseValue<IPv4Mask>({"c", "--value=33"}), testing::ExitedWithCode(1), "33");
    EXPECT_THROW(parseValue<IPv4Mask>({"c", "--value=/24"}), boost::bad_lexical_cast);
    // Mail components unite across occurrences.
    using C = SelectedMailComponents;
    EXPECT_EQ(parseValue<C>({"c", "--value=smtp", "--value=imaps"}).components, 0x82u);
    EXPECT_EQ(parseValue<C>({"c", "--value=all"}).components, 0xFFFFu);
    EXPECT_EQ(parseValue<C>({"c", "--value=pop3", "--value=pop3"}).components, 0x10u);
    EXPECT_EXIT(parseValue<C>({"c", "--value=smtp", "--value=ftp"}), testing::ExitedWithCode(1),
                "unknown component ftp");
}

} // namespace
} // namespace korvo::mail::postfix::vornctl_commands
