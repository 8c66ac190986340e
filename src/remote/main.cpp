// vornctl-remote: the transport through which mail for other hosts leaves
// (main.cf's default_transport and relay_transport). Postfix's pipe runs it
// as popuser with the message on standard input and the envelope as
// "--sender=ADDRESS -- RECIPIENT..."; it runs the before-remote handlers of
// the message (see vornctl-handlers(7)) and hands the message back to
// Postfix through the reinjection smtpd on 127.0.0.1:10027, whose
// content_filter sends it on with Postfix's smtp client to $relayhost or
// the recipient's domain.
//
// Exit statuses as Postfix's pipe reads them: 0 passed on (or discarded by
// a handler), 69 refused by a handler or by the reinjection smtpd (a
// bounce, its reason on standard output), 75 anything temporary, a fault of
// a handler or of this program included: the message stays queued.
#include "handlers/HandlerRunner.h"
#include "handlers/SmtpChannel.h"
#include "utils/FdOwner.h"
#include "utils/FileCopy.h"
#include "utils/UnnamedFile.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <iostream>
#include <string>
#include <unistd.h>
#include <vector>

namespace korvo::remote {
namespace {

using handlers::ChannelError;
using handlers::SmtpChannel;

constexpr int EXIT_SENT = 0;
constexpr int EXIT_REFUSED = 69;   // EX_UNAVAILABLE: Postfix bounces
constexpr int EXIT_TEMPORARY = 75; // EX_TEMPFAIL: Postfix tries again
const char* const REINJECTION = "127.0.0.1:10027";
const char* const SPOOL_DIRECTORY = "/var/tmp";
const char* const SENDER_OPTION = "--sender=";
constexpr auto HANDLER_TIME_LIMIT = std::chrono::seconds(60);
constexpr auto HANDLERS_TOTAL_LIMIT = std::chrono::seconds(300);
constexpr auto REINJECTION_TIMEOUT = std::chrono::seconds(300);

// Why the message did not leave, and what Postfix is told.
struct Outcome {
    int status;
    std::string reason;
};

handlers::MessageParties parseArguments(int argc, char** argv) {
    handlers::MessageParties parties;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (!optionsEnded && arg == "--")
            optionsEnded = true;
        else if (!optionsEnded && arg.rfind(SENDER_OPTION, 0) == 0)
            parties.sender = arg.substr(std::strlen(SENDER_OPTION));
        else
            parties.recipients.push_back(arg);
    }
    if (parties.recipients.empty())
        throw std::runtime_error("no recipient given");
    return parties;
}

// Standard input into an unnamed file.
int spoolInput() {
    FdOwner spool(createUnnamedFile(SPOOL_DIRECTORY));
    if (!copyAll(0, spool.get(), nullptr))
        throw std::runtime_error("spool the message in " + std::string(SPOOL_DIRECTORY) + ": " +
                                 std::strerror(errno));
    return spool.release();
}

// The reply, or the outcome its failure means.
bool accepted(const std::string& reply, char wanted, Outcome& outcome) {
    if (reply[0] == wanted)
        return true;
    outcome = {reply[0] == '5' ? EXIT_REFUSED : EXIT_TEMPORARY,
               "the reinjection smtpd answered " +
                   reply.substr(0, reply.find_last_not_of("\r\n") + 1)};
    return false;
}

Outcome reinject(const handlers::MessageParties& parties, int messageFd) {
    const FdOwner socket(handlers::connectTo(REINJECTION));
    SmtpChannel hop(socket.get(), socket.get(), "reinjection smtpd", REINJECTION_TIMEOUT);
    Outcome outcome{EXIT_SENT, ""};
    const auto command = [&hop](const std::string& line) {
        hop.write(line + "\r\n");
        hop.flush();
        return hop.readReply();
    };
    if (!accepted(hop.readReply(), '2', outcome) ||
        !accepted(command("EHLO localhost"), '2', outcome) ||
        !accepted(command("MAIL FROM:" + handlers::smtpPath(parties.sender)), '2', outcome))
        return outcome;
    for (const std::string& recipient : parties.recipients)
        if (!accepted(command("RCPT TO:" + handlers::smtpPath(recipient)), '2', outcome))
            return outcome;
    if (!accepted(command("DATA"), '3', outcome))
        return outcome;
    handlers::sendMessageData(messageFd, hop);
    if (!accepted(hop.readReply(), '2', outcome))
        return outcome;
    command("QUIT");
    return outcome;
}

Outcome sendOn(int argc, char** argv) {
    const handlers::MessageParties parties = parseArguments(argc, argv);
    const FdOwner message(spoolInput());
    const std::vector<handlers::Handler> found = handlers::applicableHandlers(
        handlers::REGISTRY_ROOT, handlers::HOOK_BEFORE_REMOTE, parties);
    if (found.empty())
        return reinject(parties, message.get());
    const handlers::ChainOutcome chain =
        handlers::runHandlers(found, handlers::HOOK_BEFORE_REMOTE, parties, message.get(),
                              {HANDLER_TIME_LIMIT, HANDLERS_TOTAL_LIMIT, SPOOL_DIRECTORY});
    switch (chain.verdict) {
    case handlers::Verdict::Pass:
        return reinject(parties, chain.replacement ? chain.replacement->get() : message.get());
    case handlers::Verdict::Discard:
        return {EXIT_SENT, ""};
    case handlers::Verdict::Refuse:
        return {EXIT_REFUSED,
                chain.answer.empty() ? "refused by handler " + chain.handler : chain.answer};
    case handlers::Verdict::Defer:
        break;
    }
    return {EXIT_TEMPORARY, chain.answer};
}

} // namespace
} // namespace korvo::remote

int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    try {
        const korvo::remote::Outcome outcome = korvo::remote::sendOn(argc, argv);
        if (!outcome.reason.empty())
            std::cout << outcome.reason << std::endl;
        return outcome.status;
    } catch (const std::exception& error) {
        std::cout << "vornctl-remote: " << error.what() << std::endl;
    }
    return korvo::remote::EXIT_TEMPORARY;
}
