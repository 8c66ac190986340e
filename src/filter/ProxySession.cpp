#include "filter/ProxySession.h"

#include "utils/FdOwner.h"
#include "utils/UnnamedFile.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <unistd.h>

namespace korvo::filter {

namespace {

using handlers::Verdict;

const char* const DATA_GO_AHEAD = "354 End data with <CR><LF>.<CR><LF>\r\n";
const std::string END_OF_DATA = "\r\n.\r\n";

std::string verbOf(const std::string& command) {
    std::string verb = command.substr(0, command.find_first_of(" \r\n"));
    std::transform(verb.begin(), verb.end(), verb.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return verb;
}

bool isEndOfData(const std::string& line, bool atLineStart) {
    return atLineStart && (line == ".\r\n" || line == ".\n");
}

bool positive(const std::string& reply) {
    return reply[0] == '2';
}

} // namespace

std::string commandAddress(const std::string& command) {
    const std::string::size_type open = command.find('<');
    if (open != std::string::npos) {
        const std::string::size_type close = command.find('>', open);
        if (close != std::string::npos)
            return command.substr(open + 1, close - open - 1);
    }
    const std::string::size_type colon = command.find(':');
    if (colon == std::string::npos)
        return "";
    const std::string rest = command.substr(colon + 1);
    return rest.substr(0, rest.find_first_of(" \r\n"));
}

std::string handlerReply(bool permanent, const std::string& answer) {
    const char wanted = permanent ? '5' : '4';
    if (replyCode(answer) != 0 && answer[0] == wanted && (answer.size() == 3 || answer[3] == ' '))
        return answer + "\r\n";
    const std::string text =
        answer.empty() ? (permanent ? "Message refused" : "Try again later") : answer;
    return (permanent ? "550 5.7.1 " : "451 4.7.1 ") + text + "\r\n";
}

ProxySession::ProxySession(SmtpChannel& client, SmtpChannel& nextHop, SessionSettings settings)
    : client_(client), nextHop_(nextHop), settings_(std::move(settings)) {}

void ProxySession::run() {
    client_.write(nextHop_.readReply());
    client_.flush();
    std::string command;
    while (client_.readLine(command)) {
        const std::string verb = verbOf(command);
        if (verb == "DATA") {
            handleData();
            continue;
        }
        relayCommand(command);
        if (verb == "QUIT")
            return;
    }
}

void ProxySession::relayCommand(const std::string& command) {
    nextHop_.write(command);
    nextHop_.flush();
    const std::string reply = nextHop_.readReply();
    const std::string verb = verbOf(command);
    if (verb == "MAIL" && positive(reply)) {
        envelope_.sender = commandAddress(command);
        envelope_.recipients.clear();
    } else if (verb == "RCPT" && positive(reply)) {
        envelope_.recipients.push_back(commandAddress(command));
    } else if (verb == "RSET" || verb == "EHLO" || verb == "HELO") {
        envelope_ = {};
    }
    client_.write(reply);
    client_.flush();
}

void ProxySession::handleData() {
    const std::vector<handlers::Handler> found =
        envelope_.recipients.empty()
            ? std::vector<handlers::Handler>()
            : handlers::applicableHandlers(settings_.registryRoot, handlers::HOOK_BEFORE_QUEUE,
                                           envelope_);
    if (found.empty())
        streamThrough();
    else
        spoolAndFilter(found);
    envelope_.recipients.clear();
}

void ProxySession::streamThrough() {
    nextHop_.write("DATA\r\n");
    nextHop_.flush();
    const std::string goAhead = nextHop_.readReply();
    client_.write(goAhead);
    client_.flush();
    if (replyCode(goAhead) != 354)
        return;
    forwardData();
    nextHop_.flush();
    client_.write(nextHop_.readReply());
    client_.flush();
}

void ProxySession::forwardData() {
    // The data starts at the beginning of a line, as if after a CRLF; the
    // end marker may straddle two reads, so the last bytes are carried.
    std::string carried = "\r\n";
    for (;;) {
        const char* data = nullptr;
        std::size_t size = 0;
        if (!client_.peek(data, size))
            throw ChannelError("the client closed the connection in the middle of a message");
        const std::string seam =
            carried + std::string(data, std::min(size, END_OF_DATA.size() - 1));
        std::size_t end = std::string::npos;
        if (const std::size_t at = seam.find(END_OF_DATA); at != std::string::npos) {
            end = at + END_OF_DATA.size() - carried.size();
        } else if (const void* found =
                       ::memmem(data, size, END_OF_DATA.data(), END_OF_DATA.size())) {
            end = static_cast<std::size_t>(static_cast<const char*>(found) - data) +
                  END_OF_DATA.size();
        }
        const std::size_t take = end == std::string::npos ? size : end;
        nextHop_.write(data, take);
        client_.consume(take);
        if (end != std::string::npos)
            return;
        const std::size_t keep = END_OF_DATA.size() - 1;
        carried = size >= keep ? std::string(data + size - keep, keep)
                               : (carried + std::string(data, size))
                                     .substr(std::max(carried.size() + size, keep) - keep);
    }
}

void ProxySession::spoolAndFilter(const std::vector<handlers::Handler>& found) {
    client_.write(DATA_GO_AHEAD);
    client_.flush();
    const FdOwner spool(createUnnamedFile(settings_.limits.spoolDirectory));
    SmtpChannel file(-1, spool.get(), "spool file", std::chrono::seconds(0));
    std::string line;
    bool atLineStart = true;
    for (;;) {
        if (!client_.readLine(line))
            throw ChannelError("the client closed the connection in the middle of a message");
        if (isEndOfData(line, atLineStart))
            break;
        const bool stuffed = atLineStart && line[0] == '.';
        atLineStart = line.back() == '\n';
        const bool crlf = line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0;
        const std::size_t start = stuffed ? 1 : 0;
        const std::size_t length = line.size() - start - (crlf ? 2 : 0);
        file.write(line.data() + start, length);
        if (crlf)
            file.write("\n", 1);
    }
    file.flush();

    const handlers::ChainOutcome outcome = handlers::runHandlers(
        found, handlers::HOOK_BEFORE_QUEUE, envelope_, spool.get(), settings_.limits);
    switch (outcome.verdict) {
    case Verdict::Pass:
        sendSpooled(outcome.replacement ? outcome.replacement->get() : spool.get());
        return;
    case Verdict::Refuse:
        refuseTransaction(handlerReply(true, outcome.answer));
        return;
    case Verdict::Defer:
        refuseTransaction(handlerReply(false, outcome.answer));
        return;
    case Verdict::Discard:
        refuseTransaction("250 2.0.0 Ok: discarded by handler " + outcome.handler + "\r\n");
        return;
    }
}

void ProxySession::sendSpooled(int messageFd) {
    nextHop_.write("DATA\r\n");
    nextHop_.flush();
    const std::string goAhead = nextHop_.readReply();
    if (replyCode(goAhead) != 354) {
        client_.write(goAhead);
        client_.flush();
        return;
    }
    handlers::sendMessageData(messageFd, nextHop_);
    client_.write(nextHop_.readReply());
    client_.flush();
}

void ProxySession::refuseTransaction(const std::string& reply) {
    nextHop_.write("RSET\r\n");
    nextHop_.flush();
    nextHop_.readReply();
    client_.write(reply);
    client_.flush();
}

} // namespace korvo::filter
