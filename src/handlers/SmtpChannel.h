// One side of an SMTP conversation over a descriptor: buffered line reads
// with a time limit and buffered writes; and the two things both SMTP
// clients of the delivery side need, a connection and a message sent as
// DATA.
//
// readLine hands back one line with its line end, or, for a line longer
// than the buffer, the part that fits (the rest comes with the next calls):
// memory use stays bounded whatever a client sends. A read or write that
// fails, a peer that closes early and a time limit that passes raise
// ChannelError naming the side and the system error.
#ifndef KORVO_HANDLERS_SMTPCHANNEL_H
#define KORVO_HANDLERS_SMTPCHANNEL_H

#include <chrono>
#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

namespace korvo::handlers {

class ChannelError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class SmtpChannel {
public:
    SmtpChannel(int readFd, int writeFd, std::string side, std::chrono::seconds timeout);
    SmtpChannel(const SmtpChannel&) = delete;
    SmtpChannel& operator=(const SmtpChannel&) = delete;

    // False at the end of input before any byte of a line.
    bool readLine(std::string& line);
    // The same, but the end of input is a ChannelError.
    std::string requireLine();
    // One whole reply (every continuation line), as received.
    std::string readReply();

    // The bytes buffered for reading, read first when there are none; false
    // at the end of input. consume(n) takes n of them.
    bool peek(const char*& data, std::size_t& size);
    void consume(std::size_t size) { begin_ += size; }

    void write(const char* data, std::size_t size);
    void write(const std::string& text) { write(text.data(), text.size()); }
    void flush();

    const std::string& side() const { return side_; }

private:
    bool fill();
    void writeAll(const char* data, std::size_t size);

    int readFd_;
    int writeFd_;
    std::string side_;
    std::chrono::seconds timeout_;
    std::vector<char> in_;
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    std::vector<char> out_;
    std::size_t pending_ = 0;
};

// The three-digit code at the start of a reply, 0 when there is none.
int replyCode(const std::string& reply);

// An address in Postfix's internal (unquoted) form as an SMTP path:
// "<local@domain>", quoted as quotedAddress does; "<>" for the null sender.
std::string smtpPath(const std::string& address);

// A connected TCP socket to "IPV4:PORT"; ChannelError when there is none.
int connectTo(const std::string& hostPort);

// Sends the message in the file behind messageFd (LF or CRLF line ends, as
// stored) as DATA content: CRLF line ends, leading dots doubled, and the
// final dot line. The reply is left to the caller.
void sendMessageData(int messageFd, SmtpChannel& to);

} // namespace korvo::handlers

#endif
