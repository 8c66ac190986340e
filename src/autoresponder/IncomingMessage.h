// The parts of an incoming message an automatic reply depends on: the
// header fields that mark it as automatic or as list mail, and those the
// reply refers to.
//
// readHeader reads the header section from a descriptor (up to the first
// empty line, at most a bounded amount), unfolding continuation lines.
// replyRefusal applies the rules for automatic responses (RFC 3834): no
// reply to a null or mailer-daemon sender, to mail marked Auto-Submitted
// (other than "no"), to Precedence bulk, list or junk, or to list mail
// (List-Id). A descriptor that cannot be read raises korvo::SystemError.
#ifndef KORVO_AUTORESPONDER_INCOMINGMESSAGE_H
#define KORVO_AUTORESPONDER_INCOMINGMESSAGE_H

#include <map>
#include <string>

namespace korvo::autoresponder {

struct IncomingMessage {
    // Field names in lower case; a repeated field keeps its first value.
    std::map<std::string, std::string> fields;

    std::string field(const std::string& lowerName) const;
};

IncomingMessage readHeader(int fd);

// Why no reply may be sent to this message from sender; empty when one may.
std::string replyRefusal(const IncomingMessage& message, const std::string& sender);

} // namespace korvo::autoresponder

#endif
