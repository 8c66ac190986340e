#include "deliver/DotQmail.h"

#include "deliver/DeliveryFailure.h"

#include <cctype>
#include <sstream>

namespace korvo::deliver {

namespace {

[[noreturn]] void malformed(int lineNumber, const std::string& line, const char* why) {
    deferDelivery(".qmail line " + std::to_string(lineNumber) + " \"" + line + "\": " + why);
}

// True when the relative path has no empty, "." or ".." component after
// its leading "./".
bool staysInHome(const std::string& path) {
    std::istringstream components(path.substr(2, path.size() - 3));
    std::string component;
    bool any = false;
    while (std::getline(components, component, '/')) {
        if (component.empty() || component == "." || component == "..")
            return false;
        any = true;
    }
    return any;
}

Instruction parseLine(const std::string& line, int lineNumber) {
    const char first = line[0];
    if (first == '|')
        return {Instruction::Program, line.substr(1)};
    if (first == '&' || std::isalnum(static_cast<unsigned char>(first)) != 0) {
        const std::string address = first == '&' ? line.substr(1) : line;
        if (address.empty() || address.find_first_of(" \t") != std::string::npos)
            malformed(lineNumber, line, "not one forwarding address");
        return {Instruction::Forward, address};
    }
    if (first == '.' || first == '/') {
        if (line.back() != '/')
            malformed(lineNumber, line, "mbox files are not delivered to");
        if (line.compare(0, 2, "./") != 0 || !staysInHome(line))
            malformed(lineNumber, line, "a Maildir must lie below the mail home");
        return {Instruction::Maildir, line.substr(2)};
    }
    malformed(lineNumber, line, "not a delivery instruction");
}

} // namespace

std::string maildirBelowHome(const std::string& argument) {
    const std::string path = argument.back() == '/' ? argument : argument + "/";
    return path.compare(0, 2, "./") == 0 && staysInHome(path) ? path.substr(2) : "";
}

std::vector<Instruction> parseDotQmail(const std::string& content) {
    std::vector<Instruction> instructions;
    std::istringstream lines(content);
    std::string line;
    int lineNumber = 0;
    while (std::getline(lines, line)) {
        ++lineNumber;
        const std::string::size_type end = line.find_last_not_of(" \t");
        line.erase(end == std::string::npos ? 0 : end + 1);
        if (line.empty() || line[0] == '#')
            continue;
        instructions.push_back(parseLine(line, lineNumber));
    }
    if (instructions.empty())
        deferDelivery(".qmail holds no delivery instruction");
    return instructions;
}

} // namespace korvo::deliver
