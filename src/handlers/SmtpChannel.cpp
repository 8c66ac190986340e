#include "handlers/SmtpChannel.h"

#include "handlers/HandlerRunner.h"
#include "utils/FdOwner.h"
#include "utils/QuotedAddress.h"
#include "utils/UnnamedFile.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace korvo::handlers {

namespace {

constexpr std::size_t BUFFER_SIZE = 65536;

} // namespace

SmtpChannel::SmtpChannel(int readFd, int writeFd, std::string side, std::chrono::seconds timeout)
    : readFd_(readFd), writeFd_(writeFd), side_(std::move(side)), timeout_(timeout),
      in_(BUFFER_SIZE), out_(BUFFER_SIZE) {}

bool SmtpChannel::fill() {
    begin_ = 0;
    end_ = 0;
    for (;;) {
        pollfd watched{readFd_, POLLIN, 0};
        const int ready = ::poll(&watched, 1, static_cast<int>(timeout_.count() * 1000));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
            throw ChannelError("poll on the " + side_ + ": " + std::strerror(errno));
        if (ready == 0)
            throw ChannelError("the " + side_ + " sent nothing for " +
                               std::to_string(timeout_.count()) + " seconds");
        const ssize_t got = ::read(readFd_, in_.data(), in_.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            throw ChannelError("read from the " + side_ + ": " + std::strerror(errno));
        end_ = static_cast<std::size_t>(got);
        return got > 0;
    }
}

bool SmtpChannel::readLine(std::string& line) {
    line.clear();
    for (;;) {
        if (begin_ == end_ && !fill())
            return !line.empty();
        const char* start = in_.data() + begin_;
        const void* lf = std::memchr(start, '\n', end_ - begin_);
        const std::size_t take =
            lf != nullptr ? static_cast<std::size_t>(static_cast<const char*>(lf) - start) + 1
                          : end_ - begin_;
        line.append(start, take);
        begin_ += take;
        if (lf != nullptr || line.size() >= BUFFER_SIZE)
            return true;
    }
}

std::string SmtpChannel::requireLine() {
    std::string line;
    if (!readLine(line))
        throw ChannelError("the " + side_ + " closed the connection");
    return line;
}

std::string SmtpChannel::readReply() {
    std::string reply;
    for (;;) {
        const std::string line = requireLine();
        reply += line;
        if (line.size() < 4 || line[3] != '-')
            return reply;
    }
}

bool SmtpChannel::peek(const char*& data, std::size_t& size) {
    if (begin_ == end_ && !fill())
        return false;
    data = in_.data() + begin_;
    size = end_ - begin_;
    return true;
}

void SmtpChannel::write(const char* data, std::size_t size) {
    if (pending_ + size > out_.size()) {
        flush();
        // A piece as large as the buffer goes out without a copy.
        if (size >= out_.size()) {
            writeAll(data, size);
            return;
        }
    }
    std::memcpy(out_.data() + pending_, data, size);
    pending_ += size;
}

void SmtpChannel::flush() {
    writeAll(out_.data(), pending_);
    pending_ = 0;
}

void SmtpChannel::writeAll(const char* data, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t put = ::write(writeFd_, data + done, size - done);
        if (put < 0 && errno == EINTR)
            continue;
        if (put < 0)
            throw ChannelError("write to the " + side_ + ": " + std::strerror(errno));
        done += static_cast<std::size_t>(put);
    }
}

int replyCode(const std::string& reply) {
    if (reply.size() < 3 || !std::isdigit(static_cast<unsigned char>(reply[0])) ||
        !std::isdigit(static_cast<unsigned char>(reply[1])) ||
        !std::isdigit(static_cast<unsigned char>(reply[2])))
        return 0;
    return std::stoi(reply.substr(0, 3));
}

std::string smtpPath(const std::string& address) {
    return "<" + quotedAddress(address) + ">";
}

int connectTo(const std::string& hostPort) {
    const std::string::size_type colon = hostPort.rfind(':');
    sockaddr_in address{};
    address.sin_family = AF_INET;
    if (colon == std::string::npos ||
        ::inet_pton(AF_INET, hostPort.substr(0, colon).c_str(), &address.sin_addr) != 1)
        throw ChannelError("the next hop " + hostPort + " is not IPV4:PORT");
    address.sin_port = htons(static_cast<uint16_t>(std::stoi(hostPort.substr(colon + 1))));
    FdOwner socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (socket.get() < 0 ||
        ::connect(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        throw ChannelError("connect to " + hostPort + ": " + std::strerror(errno));
    return socket.release();
}

void sendMessageData(int messageFd, SmtpChannel& to) {
    const FdOwner reader(reopenForReading(messageFd));
    SmtpChannel file(reader.get(), -1, "spool file", std::chrono::seconds(1));
    std::string line;
    bool atLineStart = true;
    while (file.readLine(line)) {
        if (atLineStart && line[0] == '.')
            to.write(".", 1);
        atLineStart = line.back() == '\n';
        const bool crlf = line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0;
        if (atLineStart && !crlf) {
            to.write(line.data(), line.size() - 1);
            to.write("\r\n", 2);
        } else {
            to.write(line);
        }
    }
    if (!atLineStart)
        to.write("\r\n", 2);
    to.write(".\r\n", 3);
    to.flush();
}

} // namespace korvo::handlers
