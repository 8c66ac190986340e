#include "autoresponder/IncomingMessage.h"

#include "utils/Exceptions.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <unistd.h>

namespace korvo::autoresponder {

namespace {

constexpr std::size_t HEADER_LIMIT = 1 << 20;

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string trimmed(const std::string& text) {
    const std::string::size_type begin = text.find_first_not_of(" \t\r\n");
    if (begin == std::string::npos)
        return "";
    return text.substr(begin, text.find_last_not_of(" \t\r\n") - begin + 1);
}

// The header section's bytes, without the empty line that ends it.
std::string headerBytes(int fd) {
    std::string header;
    char c = 0;
    char previous = '\n';
    while (header.size() < HEADER_LIMIT) {
        const ssize_t got = ::read(fd, &c, 1);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            throwSystemError("read the incoming message", errno);
        if (got == 0 || (c == '\n' && previous == '\n'))
            break;
        if (c != '\r') {
            header += c;
            previous = c;
        }
    }
    return header;
}

void addField(IncomingMessage& message, const std::string& line) {
    const std::string::size_type colon = line.find(':');
    if (colon == std::string::npos)
        return;
    message.fields.emplace(lower(trimmed(line.substr(0, colon))), trimmed(line.substr(colon + 1)));
}

} // namespace

std::string IncomingMessage::field(const std::string& lowerName) const {
    const auto found = fields.find(lowerName);
    return found == fields.end() ? std::string() : found->second;
}

IncomingMessage readHeader(int fd) {
    IncomingMessage message;
    std::string current;
    const std::string header = headerBytes(fd);
    std::string::size_type start = 0;
    while (start < header.size()) {
        std::string::size_type end = header.find('\n', start);
        if (end == std::string::npos)
            end = header.size();
        const std::string line = header.substr(start, end - start);
        if (!line.empty() && (line[0] == ' ' || line[0] == '\t')) {
            current += " " + trimmed(line);
        } else {
            addField(message, current);
            current = line;
        }
        start = end + 1;
    }
    addField(message, current);
    return message;
}

std::string replyRefusal(const IncomingMessage& message, const std::string& sender) {
    const std::string address = lower(sender);
    const std::string local = address.substr(0, address.rfind('@'));
    if (address.empty() || address == "<>")
        return "the sender is null";
    if (local == "mailer-daemon")
        return "the sender is a mailer daemon";
    const std::string autoSubmitted = lower(message.field("auto-submitted"));
    if (!autoSubmitted.empty() && autoSubmitted.substr(0, autoSubmitted.find(';')) != "no")
        return "the message is marked Auto-Submitted: " + autoSubmitted;
    const std::string precedence = lower(message.field("precedence"));
    if (precedence == "bulk" || precedence == "list" || precedence == "junk")
        return "the message has Precedence: " + precedence;
    if (message.fields.count("list-id") != 0)
        return "the message comes from a mailing list";
    return "";
}

} // namespace korvo::autoresponder
