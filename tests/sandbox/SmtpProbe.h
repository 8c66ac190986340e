// What the sandbox's running Postfix answers a client from the Internet (one
// outside mynetworks): at RCPT TO, or at the end of a message.
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

namespace korvo::test {

// One SMTP transaction from a client (by default one outside mynetworks):
// the reply to RCPT TO when no message is given, else the reply to the end
// of DATA (the message sent with CRLF line ends and leading dots doubled); a
// reply that went wrong before is returned after the command it answered.
inline std::string smtpTransaction(const std::string& sender, const std::string& recipient,
                                   const std::string& message = "",
                                   const std::string& clientAddress = "127.0.0.2") {
    SmtpClient smtp(clientAddress);
    if (smtp.greeting().rfind("220 ", 0) != 0)
        return "greeting: " + smtp.greeting();
    smtp.send("EHLO client.remote.example");
    const std::string from = smtp.send("MAIL FROM:<" + sender + ">");
    if (from.rfind("250 ", 0) != 0)
        return "MAIL FROM: " + from;
    std::string reply = smtp.send("RCPT TO:<" + recipient + ">");
    if (!message.empty()) {
        if (reply[0] != '2')
            return "RCPT TO: " + reply;
        const std::string data = smtp.send("DATA");
        if (data.rfind("354 ", 0) != 0)
            return "DATA: " + data;
        std::string text;
        char previous = '\n';
        for (const char c : message) {
            text += c == '\n' ? std::string("\r\n")
                              : std::string(c == '.' && previous == '\n' ? 2 : 1, c);
            previous = c;
        }
        reply = smtp.send(text + ".");
    }
    smtp.send("QUIT");
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
    std::string reply;
    const auto seen = [&] {
        return accepted(reply = smtpTransaction("friend@remote.example", canary)) == canaryAccepted;
    };
    return waitUntil(seen, 20, std::chrono::milliseconds(200))
               ? smtpTransaction("friend@remote.example", recipient)
               : "canary unseen: " + reply;
}

} // namespace korvo::test

#endif
