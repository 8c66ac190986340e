// Feeds arbitrary command lines to the option layer of every command that
// takes options, and runs what parses through the name gate. No command is
// ever run.
//
// How a command's options are reached without running it: this program
// carries its own standardOptionsParse. The option helper's source is
// compiled in here with its parse function renamed, so this file defines
// every symbol of the helper's object and the linker never takes the
// library's copy of it. The replacement parses exactly like the library
// (same store, notify and mandatory-option checks) and then, instead of
// returning to the handler (or exiting on an error or --help), throws:
// the handler unwinds before its first step. LLVMFuzzerInitialize proves the
// replacement is the one in effect before any handler is called, and aborts
// otherwise.
//
// Input: the first byte picks the command; the rest, split at NUL bytes,
// are the words after the command word. Checked on every input: no crash
// and no exception other than the option errors, the name gate's refusals
// and the IDNA failures; every name the gate accepts is free of what would
// break a path, a table record or a .qmail line.
#include "front/CommandTable.h"
#include "front/MailOptions.h"
#include "front/NameChecks.h"
#include "front/ProgramOptionsHelper.h"

#define standardOptionsParse libraryStandardOptionsParse
#include "front/ProgramOptionsHelper.cpp"
#undef standardOptionsParse

#include "utils/Exceptions.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

namespace po = boost::program_options;

namespace {

// Thrown by the replacement parser; never derived from std::exception, so
// no handler's catch clause for errors takes it.
struct OptionsParsed {
    // Every text value the command line gave, by option name.
    std::vector<std::pair<std::string, std::string>> values;
};
struct OptionsRefused {};

bool replacementCalled = false;
bool replacementStopped = false;

} // namespace

namespace korvo::mail::postfix::vornctl_commands {

void standardOptionsParse(ProgramOptionsHelper& helper, int argc, char** argv) {
    replacementCalled = true;
    try {
        ProgramOptionsHelper::OptionAppender declare(helper);
        declare("help,h", "displays this help message");
        const po::parsed_options parsed = po::parse_command_line(argc, argv, helper.options);
        po::store(parsed, helper.variables);
        po::notify(helper.variables);
        if (helper.variables.count("help"))
            throw OptionsRefused{};
        for (const std::string& name : helper.mandatoryOptions)
            if (!helper.variables.count(longName(name)))
                throw MissingMandatoryOption(name);
    } catch (const po::error&) {
        throw OptionsRefused{};
    }
    OptionsParsed parsed;
    for (const auto& [option, value] : helper.variables) {
        if (const auto* text = boost::any_cast<std::string>(&value.value()))
            parsed.values.emplace_back(option, *text);
        if (const auto* texts = boost::any_cast<std::vector<std::string>>(&value.value()))
            for (const std::string& text : *texts)
                parsed.values.emplace_back(option, text);
    }
    throw parsed;
}

} // namespace korvo::mail::postfix::vornctl_commands

namespace {

using namespace korvo::mail::postfix::vornctl_commands;
namespace validators = korvo::mail::postfix::mailname_validators;

void check(bool condition, const char* what, const std::string& name) {
    if (!condition) {
        std::fprintf(stderr, "CommandOptionsFuzz: %s: \"%s\"\n", what, name.c_str());
        std::abort();
    }
}

struct Command {
    std::string word;
    CommandHandler handler;
};

// Every command whose help shows options; the others take none and run at
// once, so they are never called here.
std::vector<Command> commandsWithOptions() {
    const CommandMap table = buildCommandTable();
    std::vector<Command> commands;
    for (std::size_t i = 0; i < commandDescriptionCount; ++i) {
        const CommandDescription& row = commandDescriptions[i];
        const auto found = table.find(row.name);
        if (*row.syntax != '\0' && found != table.end())
            commands.push_back({found->first, found->second});
    }
    return commands;
}

const std::vector<Command>& commands() {
    static const std::vector<Command> all = commandsWithOptions();
    return all;
}

// Runs handler on words until the replacement parser stops it; false when
// the options were refused.
bool parse(const Command& command, std::vector<std::string> words,
           std::vector<std::pair<std::string, std::string>>* values) {
    words.insert(words.begin(), command.word);
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    try {
        command.handler(static_cast<int>(words.size()), argv.data());
    } catch (OptionsParsed& parsed) {
        *values = std::move(parsed.values);
        return true;
    } catch (const OptionsRefused&) {
        return false;
    } catch (const boost::bad_lexical_cast&) {
        // A netmask that is no number at all; main reports it.
        return false;
    }
    std::fprintf(stderr, "CommandOptionsFuzz: %s ran past its option parsing\n",
                 command.word.c_str());
    std::abort();
}

bool hasAny(const std::string& text, const char* bytes) {
    return text.find_first_of(bytes, 0, std::char_traits<char>::length(bytes) + 1) !=
           std::string::npos;
}

// What no accepted name may hold: a path separator, a line break, a blank
// or NUL (record and .qmail line injection), or be a directory reference.
void checkHarmless(const std::string& name, bool dots) {
    check(!hasAny(name, "/\n\r \t"), "accepted name holds a separator", name);
    check(name != "." && name != "..", "accepted name is a directory reference", name);
    if (!dots)
        check(name.find("..") == std::string::npos, "accepted name holds \"..\"", name);
    check(!name.empty(), "accepted an empty name", name);
}

void gateDomain(const std::string& value) {
    const std::string ascii = asciiDomainName(value);
    checkHarmless(ascii, false);
    check(ascii.size() <= 253, "accepted an over-long domain", ascii);
    for (const unsigned char c : ascii)
        check(c < 0x80, "accepted domain is not ASCII", ascii);
}

void gateMailName(const std::string& value) {
    validators::mailValidateExc(value, MAIL_VALIDATE_MAILNAME);
    checkMailName(value);
    checkHarmless(value, false);
    check(value.size() <= 64, "accepted an over-long mail name", value);
}

void gateAddress(const std::string& value) {
    const std::string ascii = asciiAddress(value);
    const auto at = ascii.rfind('@');
    check(at != std::string::npos, "accepted address has no \"@\"", ascii);
    checkHarmless(ascii.substr(0, at), false);
    checkHarmless(ascii.substr(at + 1), false);
}

void gateFileName(const std::string& value) {
    checkFileName(value);
    checkHarmless(value, true);
}

void gateOne(const std::string& option, const std::string& value);

// The name check that the commands apply to an option of this name; a list
// of zones is checked zone by zone.
void gate(const std::string& option, const std::string& value) {
    if (option == "maps-zones") {
        std::string::size_type start = 0;
        while (start <= value.size()) {
            auto end = value.find_first_of(" \t,", start);
            end = end == std::string::npos ? value.size() : end;
            if (end > start)
                gateOne(option, value.substr(start, end - start));
            start = end + 1;
        }
    } else {
        gateOne(option, value);
    }
}

void gateOne(const std::string& option, const std::string& value) {
    if (option.find("domain") != std::string::npos || option == "maps-zones")
        gateDomain(value);
    else if (option.find("mailname") != std::string::npos || option == "alias" ||
             option == "handler-type-name")
        gateMailName(value);
    else if (option.find("email") != std::string::npos)
        gateAddress(value);
    else if (option == "attachment-file-name" || option == "handler-name")
        gateFileName(value);
    else
        checkSingleLine(value);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The parser in effect must be the one above: a command it does not stop
    // would run. parseDomainName is the library's own caller of the parser.
    ProgramOptionsHelper helper("probe", "probe");
    std::string word = "--probe";
    std::string domain = "--domain-name=example.com";
    char* argv[] = {word.data(), domain.data(), nullptr};
    try {
        parseDomainName(helper, 2, argv);
    } catch (const OptionsParsed&) {
        replacementStopped = true;
    }
    if (!replacementCalled || !replacementStopped || commands().empty()) {
        std::fprintf(stderr, "CommandOptionsFuzz: the replacement parser is not in effect\n");
        std::abort();
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const Command& command = commands()[data[0] % commands().size()];
    std::vector<std::string> words;
    std::string word;
    for (std::size_t i = 1; i < size && words.size() < 24; ++i) {
        if (data[i] != '\0') {
            word += static_cast<char>(data[i]);
            continue;
        }
        words.push_back(word);
        word.clear();
    }
    if (!word.empty())
        words.push_back(word);
    std::vector<std::pair<std::string, std::string>> values;
    if (!parse(command, words, &values))
        return 0;
    for (const auto& [option, value] : values) {
        try {
            gate(option, value);
        } catch (const std::invalid_argument&) {
        } catch (const korvo::idn::IdnaError&) {
        }
    }
    return 0;
}
