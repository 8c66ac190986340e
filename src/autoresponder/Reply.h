// The automatic reply itself: composed from the mailbox's settings and the
// incoming message, and handed to Postfix's sendmail with a null envelope
// sender, so that nothing ever answers the answer.
//
// The reply carries Auto-Submitted: auto-replied, In-Reply-To and
// References of the message it answers, and the chosen files of the
// mailbox's attachment store as base64 parts of a multipart/mixed message.
// The files are opened below the mail home without following links; a file
// that is not there is left out. composeReply writes to a descriptor and
// raises korvo::SystemError when it cannot; sendReply raises
// std::runtime_error when sendmail does not take the reply.
#ifndef KORVO_AUTORESPONDER_REPLY_H
#define KORVO_AUTORESPONDER_REPLY_H

#include "autoresponder/IncomingMessage.h"
#include "autoresponder/ReplySettings.h"

#include <string>

namespace korvo::autoresponder {

struct ReplyParties {
    std::string mailbox; // the address that answers
    std::string sender;  // the address answered
};

void composeReply(int out, const ReplySettings& settings, const IncomingMessage& incoming,
                  const ReplyParties& parties, int homeFd);

void sendReply(const ReplySettings& settings, const IncomingMessage& incoming,
               const ReplyParties& parties, int homeFd);

} // namespace korvo::autoresponder

#endif
