// One SMTP session between Postfix's smtpd (the client, on the filter's
// standard input and output) and the reinjection smtpd (the next hop).
//
// Commands and replies pass through unchanged, so the next hop sees the
// client's EHLO, XFORWARD, MAIL and RCPT as smtpd sent them. The filter
// keeps track of the envelope from the replies. At DATA it looks up the
// before-queue handlers for the sender and the accepted recipients:
//   - none: DATA and the message stream straight through to the next hop,
//     a buffer at a time;
//   - some: the filter answers DATA itself, spools the message into an
//     unnamed file (dot-unstuffed, LF line ends, the form handlers and
//     delivery agents read), runs the handlers and then either sends the
//     (possibly replaced) message on, or gives the client the refusal or
//     deferral and resets the next hop's transaction.
// Nothing is accepted before the next hop accepted it. Any failure ends the
// session with a 421 reply to the client (a temporary error: the client's
// mail stays with the client).
#ifndef KORVO_FILTER_PROXYSESSION_H
#define KORVO_FILTER_PROXYSESSION_H

#include "handlers/HandlerQueues.h"
#include "handlers/HandlerRunner.h"
#include "handlers/SmtpChannel.h"

#include <string>
#include <vector>

namespace korvo::filter {

using handlers::ChannelError;
using handlers::replyCode;
using handlers::SmtpChannel;

struct SessionSettings {
    std::string registryRoot = handlers::REGISTRY_ROOT;
    handlers::RunLimits limits;
};

class ProxySession {
public:
    ProxySession(SmtpChannel& client, SmtpChannel& nextHop, SessionSettings settings);

    // Runs until the client quits or the connection ends.
    void run();

private:
    void relayCommand(const std::string& command);
    void handleData();
    void streamThrough();
    void forwardData();
    void spoolAndFilter(const std::vector<handlers::Handler>& found);
    void sendSpooled(int messageFd);
    void refuseTransaction(const std::string& reply);

    SmtpChannel& client_;
    SmtpChannel& nextHop_;
    SessionSettings settings_;
    handlers::MessageParties envelope_;
};

// The address between the first "<" and the following ">" of a MAIL or
// RCPT command; the text after the colon when there are no brackets.
std::string commandAddress(const std::string& command);

// The SMTP reply for a handler's refusal (class 5) or deferral (class 4):
// the handler's answer when it is already a reply of that class, else the
// answer behind a standard code.
std::string handlerReply(bool permanent, const std::string& answer);

} // namespace korvo::filter

#endif
