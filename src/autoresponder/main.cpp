// vornctl-autoresponder: the before-local mail handler that --set-autoresponder
// registers (as /usr/local/orq/handlers/hooks/autoresponder). The delivery
// agent runs it in the recipient's mail home with the message on standard
// input (see vornctl-handlers(7)); it answers the envelope sender with the
// mailbox's reply from the panel database, at most once per sender within
// the mailbox's interval and never where automatic replies are not wanted.
//
// It always exits 0: the original message is delivered whatever becomes of
// the reply. Why no reply was sent, when that is a fault, goes to standard
// error, which ends up in Postfix's log.
#include "autoresponder/IncomingMessage.h"
#include "autoresponder/Reply.h"
#include "autoresponder/ReplyLog.h"
#include "autoresponder/ReplySettings.h"
#include "utils/FdOwner.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <iostream>
#include <unistd.h>

namespace korvo::autoresponder {
namespace {

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value == nullptr ? "" : value;
}

void respond() {
    const std::string sender = environment("HANDLER_SENDER");
    const std::string recipients = environment("HANDLER_RECIPIENTS");
    const std::string mailbox = recipients.substr(0, recipients.find('\n'));
    const std::string::size_type at = mailbox.rfind('@');
    if (at == std::string::npos)
        throw std::runtime_error("no recipient address in HANDLER_RECIPIENTS");
    const IncomingMessage incoming = readHeader(0);
    if (!replyRefusal(incoming, sender).empty())
        return;
    const std::optional<ReplySettings> settings =
        loadReplySettings(mailbox.substr(0, at), mailbox.substr(at + 1));
    if (!settings)
        return;
    const FdOwner home(::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (home.get() < 0)
        throw std::runtime_error(std::string("open the mail home: ") + std::strerror(errno));
    ReplyLog log(home.get());
    const std::time_t now = std::time(nullptr);
    if (log.repliedWithin(sender, settings->resendInterval, now))
        return;
    sendReply(*settings, incoming, {mailbox, sender}, home.get());
    log.record(sender, settings->resendInterval, now);
}

} // namespace
} // namespace korvo::autoresponder

int main() {
    try {
        korvo::autoresponder::respond();
    } catch (const std::exception& error) {
        std::cerr << "autoresponder: no reply sent: " << error.what() << std::endl;
    }
    return 0;
}
