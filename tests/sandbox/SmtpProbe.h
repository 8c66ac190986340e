// What the sandbox's running Postfix answers at RCPT TO for an address, as
// mail from the Internet (a client outside mynetworks) would see it.
//
// Postfix's smtpd notices a changed table by its modification time, in
// whole seconds, and keeps its processes across connections, so a probe
// right after a change may still see the old table. replyOnceSeen polls a
// canary address whose answer the same change turns around, and then asks
// about the address of interest: both answers come from the new table.
#ifndef KORVO_TESTS_SMTPPROBE_H
#define KORVO_TESTS_SMTPPROBE_H

#include "front/CommandFixture.h"

#include <chrono>
#include <string>
#include <thread>

namespace korvo::test {

// The reply to RCPT TO for recipient, or the first reply that went wrong.
inline std::string rcptReply(const std::string& recipient) {
    SmtpClient client("127.0.0.2");
    if (client.greeting().rfind("220 ", 0) != 0)
        return "greeting: " + client.greeting();
    client.send("EHLO client.remote.example");
    const std::string from = client.send("MAIL FROM:<friend@remote.example>");
    if (from.rfind("250 ", 0) != 0)
        return "MAIL FROM: " + from;
    const std::string reply = client.send("RCPT TO:<" + recipient + ">");
    client.send("QUIT");
    return reply;
}

inline bool accepted(const std::string& reply) {
    return reply.rfind("250 ", 0) == 0;
}

// Waits (at most 20 s) until the canary is accepted (or refused, as
// wanted), then returns the reply for recipient; "canary unseen: REPLY"
// when the change never showed.
inline std::string replyOnceSeen(const std::string& canary, bool canaryAccepted,
                                 const std::string& recipient) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    std::string reply;
    while (accepted(reply = rcptReply(canary)) != canaryAccepted)
        if (std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        else
            return "canary unseen: " + reply;
    return rcptReply(recipient);
}

} // namespace korvo::test

#endif
