#include "doc/Completion.h"

#include <algorithm>
#include <boost/algorithm/string/join.hpp>
#include <regex>
#include <sstream>

namespace korvo::doc {

namespace {

const char* const preamble = R"(# bash completion for vornctl, generated from its command table.
_vornctl() {
    local cur=${COMP_WORDS[COMP_CWORD]} options=
    if [ "$COMP_CWORD" -eq 1 ]; then
        options=")";

const char* const optionsStart = R"("
    else
        case ${COMP_WORDS[1]} in
)";

const char* const postamble = R"(        esac
    fi
    COMPREPLY=($(compgen -W "$options" -- "$cur"))
    if [ ${#COMPREPLY[@]} -eq 1 ] && [[ ${COMPREPLY[0]} == *= ]]; then
        compopt -o nospace
    fi
}
complete -F _vornctl vornctl
)";

} // namespace

std::vector<std::string> commandWords(const std::string& name) {
    std::vector<std::string> words;
    std::istringstream parts(name);
    std::string word;
    while (parts >> word) {
        if (!word.empty() && word.back() == ',')
            word.pop_back();
        if (!word.empty())
            words.push_back(word);
    }
    return words;
}

std::vector<std::string> syntaxOptions(const std::string& syntax) {
    static const std::regex option("--[a-z0-9][a-z0-9-]*=?");
    std::vector<std::string> options;
    for (std::sregex_iterator it(syntax.begin(), syntax.end(), option), end; it != end; ++it) {
        const std::string found = it->str();
        if (std::find(options.begin(), options.end(), found) == options.end())
            options.push_back(found);
    }
    return options;
}

void writeBashCompletion(std::ostream& out, const CommandDescription* commands, std::size_t count) {
    std::vector<std::string> allWords;
    for (std::size_t i = 0; i < count; ++i) {
        const std::vector<std::string> words = commandWords(commands[i].name);
        allWords.insert(allWords.end(), words.begin(), words.end());
    }
    out << preamble << boost::algorithm::join(allWords, " ") << optionsStart;
    for (std::size_t i = 0; i < count; ++i) {
        const std::vector<std::string> options = syntaxOptions(commands[i].syntax);
        if (options.empty())
            continue;
        out << "            " << boost::algorithm::join(commandWords(commands[i].name), "|")
            << ") options=\"" << boost::algorithm::join(options, " ") << "\" ;;\n";
    }
    out << postamble;
}

} // namespace korvo::doc
