#include "deliver/RecipientDelimiter.h"

#include "utils/FdOwner.h"
#include "utils/FileCopy.h"

#include <cstdlib>
#include <fcntl.h>
#include <sstream>
#include <unistd.h>

namespace korvo::deliver {

namespace {

const char* const DEFAULT_CONFIG_DIRECTORY = "/etc/postfix";
const char* const DEBIAN_DELIMITER = "+";
const char* const PARAMETER = "recipient_delimiter";
const char* const BLANKS = " \t\r";
constexpr std::size_t MAX_MAIN_CF_SIZE = 1 << 20;

std::string trimmed(const std::string& text) {
    const std::string::size_type start = text.find_first_not_of(BLANKS);
    if (start == std::string::npos)
        return "";
    return text.substr(start, text.find_last_not_of(BLANKS) - start + 1);
}

// "name = value" of one logical line: its value when name is the
// delimiter parameter.
bool delimiterAssignment(const std::string& logicalLine, std::string& value) {
    const std::string::size_type equals = logicalLine.find('=');
    if (equals == std::string::npos || trimmed(logicalLine.substr(0, equals)) != PARAMETER)
        return false;
    value = trimmed(logicalLine.substr(equals + 1));
    return true;
}

bool readSmallFile(const std::string& path, std::string& content) {
    const FdOwner fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0)
        return false;
    return readAll(fd.get(), content, MAX_MAIN_CF_SIZE);
}

} // namespace

std::string delimitersInMainCf(const std::string& mainCf, const std::string& fallback) {
    std::string found = fallback;
    std::string logical;
    std::istringstream lines(mainCf);
    std::string line;
    while (std::getline(lines, line)) {
        const std::string content = trimmed(line);
        if (!content.empty() && content[0] == '#')
            continue;
        if (!line.empty() && (line[0] == ' ' || line[0] == '\t')) {
            logical += " " + content;
            continue;
        }
        delimiterAssignment(logical, found);
        logical = content;
    }
    delimiterAssignment(logical, found);
    return found;
}

std::string recipientDelimiters() {
    const char* const configured = std::getenv("MAIL_CONFIG");
    const std::string directory =
        configured != nullptr && configured[0] != '\0' ? configured : DEFAULT_CONFIG_DIRECTORY;
    std::string mainCf;
    if (!readSmallFile(directory + "/main.cf", mainCf))
        return DEBIAN_DELIMITER;
    // Postfix's own default: no extensions.
    return delimitersInMainCf(mainCf, "");
}

} // namespace korvo::deliver
