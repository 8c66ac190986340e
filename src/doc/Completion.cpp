#include "doc/Completion.h"

#include "utils/ForkExec.h"
#include "utils/MallocOwners.h"

#include <algorithm>
#include <boost/algorithm/string/join.hpp>
#include <cstdlib>
#include <memory>
#include <sstream>

namespace korvo::doc {

namespace {

const char* const preamble =
    R"(# bash completion for vornctl, generated from its command table and the
# options each command declares.
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

// The long option an option column names: "--name" of "--name arg" or of
// "-D [ --name ]"; empty for any other line.
std::string optionColumn(const std::string& line, bool& takesValue) {
    if (line.rfind("  -", 0) != 0)
        return "";
    std::string::size_type start = line.find("--");
    if (start == std::string::npos)
        return "";
    std::string::size_type end = line.find_first_of(" ]", start);
    const std::string name = line.substr(start, end - start);
    if (line.compare(2, 2, "--") != 0 && end != std::string::npos)
        end = line.find(']', end) + 1; // past the bracketed long form
    const std::string rest = end == std::string::npos ? "" : line.substr(end);
    takesValue = rest.rfind(" arg", 0) == 0 || rest.rfind(" [=arg", 0) == 0;
    return name;
}

} // namespace

std::vector<std::string> usageOptions(const std::string& usage) {
    std::vector<std::string> options;
    std::istringstream lines(usage);
    std::string line;
    bool inSection = false;
    while (std::getline(lines, line)) {
        if (line.rfind("Allowed options", 0) == 0) {
            inSection = true;
            continue;
        }
        bool takesValue = false;
        const std::string name = inSection ? optionColumn(line, takesValue) : "";
        if (name.size() <= 2)
            continue;
        const std::string option = takesValue ? name + "=" : name;
        if (std::find(options.begin(), options.end(), option) == options.end())
            options.push_back(option);
    }
    return options;
}

HelpRunner builtToolHelp(const std::string& path) {
    return [path](const std::string& word) {
        std::string program = path, command = word, help = "--help";
        char* argv[] = {program.data(), command.data(), help.data(), nullptr};
        char* out = nullptr;
        char* err = nullptr;
        CommandHelp result;
        result.status = fork_execv_getouterr(&out, &err, program.c_str(), argv);
        const korvo::MallocString outOwner(out), errOwner(err);
        result.out = out == nullptr ? "" : out;
        return result;
    };
}

void writeBashCompletion(std::ostream& out, const CommandDescription* commands, std::size_t count,
                         const HelpRunner& help) {
    std::vector<std::string> allWords;
    std::ostringstream cases;
    for (std::size_t i = 0; i < count; ++i) {
        const std::vector<std::string> words = commandWords(commands[i].name);
        allWords.insert(allWords.end(), words.begin(), words.end());
        if (commands[i].syntax[0] == '\0')
            continue;
        const CommandHelp usage = help(words.back());
        const std::vector<std::string> options = usageOptions(usage.out);
        if (usage.status != 0 || options.empty())
            throw CompletionError("\"vornctl " + words.back() +
                                  " --help\" listed no options (status " +
                                  std::to_string(usage.status) + "): " + usage.out);
        cases << "            " << boost::algorithm::join(words, "|") << ") options=\""
              << boost::algorithm::join(options, " ") << "\" ;;\n";
    }
    out << preamble << boost::algorithm::join(allWords, " ") << optionsStart << cases.str()
        << postamble;
}

} // namespace korvo::doc
