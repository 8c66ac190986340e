// Feeds arbitrary command lines to the option layer of every command that
// takes options and runs what parses through the name gate; no command runs.
// The option helper's source is compiled in with its parser renamed, and the
// replacement below parses like the library but throws instead of returning,
// so a handler unwinds before its first step. Input: the first byte picks the
// command, the rest split at NUL bytes are its words. Checked: no crash, no
// exception but option, gate and IDNA refusals, and every accepted name is
// free of what would break a path, a table record or a .qmail line.
#include "front/CommandTable.h"
#include "front/MailOptions.h"
#include "front/NameChecks.h"
#include "front/ProgramOptionsHelper.h"

#define standardOptionsParse libraryStandardOptionsParse
#include "front/ProgramOptionsHelper.cpp"
#undef standardOptionsParse

#include "utils/Exceptions.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

namespace po = boost::program_options;

namespace korvo::mail::postfix::vornctl_commands {
namespace {

// Ends a handler at its option parsing; not derived from std::exception,
// so no handler's catch clause takes it.
struct OptionsDone {};

bool replacementCalled = false;

void check(bool condition, const char* what, const std::string& name) {
    if (!condition) {
        std::fprintf(stderr, "CommandOptionsFuzz: %s: \"%s\"\n", what, name.c_str());
        std::abort();
    }
}

// No path separator, line break, blank or NUL, no directory reference.
void checkHarmless(const std::string& name, bool dots) {
    check(name.find_first_of(std::string("/\n\r \t\0", 6)) == std::string::npos && !name.empty() &&
              name != "." && name != ".." && (dots || name.find("..") == std::string::npos),
          "accepted name holds a separator or a directory reference", name);
}

// The name check the commands apply to an option of this name; a list of
// zones is checked zone by zone.
void gate(const std::string& option, const std::string& value) {
    if (option == "maps-zones") {
        for (std::string::size_type start = 0, end; start <= value.size(); start = end + 1) {
            end = std::min(value.find_first_of(" \t,", start), value.size());
            if (end > start)
                gate("domain", value.substr(start, end - start));
        }
    } else if (option.find("domain") != std::string::npos) {
        const std::string ascii = asciiDomainName(value);
        checkHarmless(ascii, false);
        check(ascii.size() <= 253 &&
                  std::all_of(ascii.begin(), ascii.end(), [](unsigned char c) { return c < 0x80; }),
              "accepted an over-long or non-ASCII domain", ascii);
    } else if (option.find("mailname") != std::string::npos || option == "alias" ||
               option == "handler-type-name") {
        korvo::mail::postfix::mailname_validators::mailValidateExc(value, MAIL_VALIDATE_MAILNAME);
        checkMailName(value);
        checkHarmless(value, false);
        check(value.size() <= 64, "accepted an over-long mail name", value);
    } else if (option.find("email") != std::string::npos) {
        const std::string ascii = asciiAddress(value);
        const auto at = ascii.rfind('@');
        check(at != std::string::npos, "accepted address has no \"@\"", ascii);
        checkHarmless(ascii.substr(0, at), false);
        checkHarmless(ascii.substr(at + 1), false);
    } else if (option == "attachment-file-name" || option == "handler-name") {
        checkFileName(value);
        checkHarmless(value, true);
    } else {
        checkSingleLine(value);
    }
}

} // namespace

void standardOptionsParse(ProgramOptionsHelper& helper, int argc, char** argv) {
    replacementCalled = true;
    try {
        ProgramOptionsHelper::OptionAppender declare(helper);
        declare("help,h", "displays this help message");
        po::store(po::parse_command_line(argc, argv, helper.options), helper.variables);
        po::notify(helper.variables);
        if (helper.variables.count("help"))
            throw OptionsDone{};
        for (const std::string& name : helper.mandatoryOptions)
            if (!helper.variables.count(longName(name)))
                throw MissingMandatoryOption(name);
    } catch (const po::error&) {
        throw OptionsDone{};
    }
    const auto gated = [](const std::string& option, const std::string& value) {
        try {
            gate(option, value);
        } catch (const std::invalid_argument&) {
        } catch (const korvo::idn::IdnaError&) {
        }
    };
    for (const auto& [option, value] : helper.variables) {
        if (const auto* text = boost::any_cast<std::string>(&value.value()))
            gated(option, *text);
        if (const auto* texts = boost::any_cast<std::vector<std::string>>(&value.value()))
            for (const std::string& text : *texts)
                gated(option, text);
    }
    throw OptionsDone{};
}

} // namespace korvo::mail::postfix::vornctl_commands

namespace {

using namespace korvo::mail::postfix::vornctl_commands;

// Every command whose help shows options; the others run at once.
const std::vector<std::pair<std::string, CommandHandler>>& commands() {
    static const auto all = [] {
        const CommandMap table = buildCommandTable();
        std::vector<std::pair<std::string, CommandHandler>> found;
        for (std::size_t i = 0; i < commandDescriptionCount; ++i) {
            const auto it = table.find(commandDescriptions[i].name);
            if (*commandDescriptions[i].syntax != '\0' && it != table.end())
                found.emplace_back(it->first, it->second);
        }
        return found;
    }();
    return all;
}

// Runs the handler until the replacement parser stops it (a netmask that is
// no number is main's to report).
void parse(const std::pair<std::string, CommandHandler>& command, std::vector<std::string> words) {
    words.insert(words.begin(), command.first);
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    try {
        command.second(static_cast<int>(words.size()), argv.data());
    } catch (const OptionsDone&) {
        return;
    } catch (const boost::bad_lexical_cast&) {
        return;
    }
    check(false, "ran past its option parsing", command.first);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The parser in effect must be the one above, or a command would run;
    // parseDomainName is the library's own caller of it.
    ProgramOptionsHelper helper("probe", "probe");
    std::string word = "--probe", domain = "--domain-name=example.com";
    char* argv[] = {word.data(), domain.data(), nullptr};
    bool stopped = false;
    try {
        parseDomainName(helper, 2, argv);
    } catch (const OptionsDone&) {
        stopped = true;
    }
    check(replacementCalled && stopped && !commands().empty(),
          "the replacement parser is not in effect", word);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    std::vector<std::string> words{""};
    for (std::size_t i = 1; i < size && words.size() <= 24; ++i)
        data[i] == '\0' ? words.emplace_back() : words.back() += static_cast<char>(data[i]);
    if (words.back().empty() || words.size() > 24)
        words.pop_back();
    parse(commands()[data[0] % commands().size()], words);
    return 0;
}
