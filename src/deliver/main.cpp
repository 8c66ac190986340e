// vornctl-deliver: Postfix's pipe transport for the tool's mailboxes. Reads
// one message on standard input and carries out the recipient's .qmail; the
// exit status tells Postfix delivered (0), bounce (69) or try again later
// (75). Every failure but what the .qmail itself bounces, including a
// korvo::SystemError or std::bad_alloc of a shortage, ends with 75. See
// vornctl-deliver(8).
#include "deliver/BeforeLocal.h"
#include "deliver/Delivery.h"
#include "deliver/DeliveryFailure.h"
#include "deliver/DotQmail.h"
#include "deliver/MailHome.h"
#include "deliver/MaildirDelivery.h"
#include "deliver/RecipientDelimiter.h"
#include "deliver/SpooledMessage.h"
#include "utils/FdOwner.h"
#include "utils/OrqConf.h"

#include <cerrno>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <iostream>
#include <string>
#include <unistd.h>
#include <vector>

namespace korvo::deliver {
namespace {

const char* const SPOOL_DIRECTORY = "/var/tmp";
const char* const SENDER_OPTION = "--sender=";

// "[--sender=ADDRESS] [--] RECIPIENT": the envelope, or a deferral.
Envelope parseArguments(int argc, char** argv) {
    Envelope envelope;
    std::vector<std::string> recipients;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (!optionsEnded && arg == "--")
            optionsEnded = true;
        else if (!optionsEnded && arg.compare(0, std::strlen(SENDER_OPTION), SENDER_OPTION) == 0)
            envelope.sender = arg.substr(std::strlen(SENDER_OPTION));
        else if (!optionsEnded && arg.compare(0, 1, "-") == 0)
            deferDelivery("unknown option " + arg);
        else
            recipients.push_back(arg);
    }
    if (recipients.size() != 1)
        deferDelivery("expected one recipient per delivery, got " +
                      std::to_string(recipients.size()) +
                      " (set the transport's destination_recipient_limit to 1)");
    envelope.recipient = recipients.front();
    return envelope;
}

// Standard input from /dev/null once the message is spooled, so that no
// later child can consume what Postfix sent.
void detachInput() {
    const int null = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (null < 0 || ::dup2(null, 0) < 0)
        deferDelivery(std::string("cannot reopen standard input: ") + std::strerror(errno));
    ::close(null);
}

// Where the message waits: the "tmp" of the Maildir it is to be stored in,
// where storing it needs no second copy, or the spool directory.
std::string spoolDirectoryName(const std::string& home, const std::string& maildir) {
    return maildir.empty() ? SPOOL_DIRECTORY : home + "/" + maildir + "tmp";
}

int openSpoolDirectory(int homeFd, const std::string& home, const std::string& maildir) {
    if (!maildir.empty())
        return openMaildirTmp(homeFd, home, maildir);
    const int fd = ::open(SPOOL_DIRECTORY, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        deferDelivery(std::string("cannot open ") + SPOOL_DIRECTORY + ": " + std::strerror(errno));
    return fd;
}

void deliver(int argc, char** argv) {
    const Envelope envelope = parseArguments(argc, argv);
    const std::string home = findMailHome(
        envelope.recipient, orqConfGetDefaultByIndex(KORVO_MAILNAMES_D), recipientDelimiters());
    const FdOwner homeFd(openMailHome(home));
    if (::fchdir(homeFd.get()) != 0)
        deferDelivery("cannot change to " + home + ": " + std::strerror(errno));
    const std::vector<Instruction> instructions = parseDotQmail(readDotQmail(homeFd.get(), home));
    const std::string maildir = firstMaildir(instructions);
    const FdOwner spoolFd(openSpoolDirectory(homeFd.get(), home, maildir));
    const SpooledMessage message(0, spoolFd.get(), spoolDirectoryName(home, maildir));
    detachInput();
    const LocalHandling handling = runBeforeLocalHandlers(envelope, message, SPOOL_DIRECTORY);
    if (!handling.deliver)
        return;
    const SpooledMessage& delivered = handling.replaced ? *handling.replaced : message;
    Delivery(delivered, envelope, homeFd.get(), home).carryOut(instructions);
}

} // namespace
} // namespace korvo::deliver

int main(int argc, char** argv) {
    using korvo::deliver::DeliveryFailure;
    try {
        korvo::deliver::deliver(argc, argv);
        return korvo::deliver::EXIT_DELIVERED;
    } catch (const DeliveryFailure& failure) {
        std::cerr << "vornctl-deliver: " << failure.what() << std::endl;
        return failure.exitStatus();
    } catch (const std::exception& error) {
        std::cerr << "vornctl-deliver: " << error.what() << std::endl;
    } catch (...) {
        std::cerr << "vornctl-deliver: unexpected failure" << std::endl;
    }
    return korvo::deliver::EXIT_TEMPORARY;
}
