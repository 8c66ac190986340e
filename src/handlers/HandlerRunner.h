// Runs the handlers that apply to a message, one after the other, and says
// what becomes of the message.
//
// Each handler program gets the message on standard input, its hook, name,
// context, the envelope sender and the recipients in the environment
// (HANDLER_HOOK, HANDLER_NAME, HANDLER_CONTEXT, HANDLER_SENDER and
// HANDLER_RECIPIENTS, one address a line) and an empty file on descriptor 3:
// what it writes there replaces the message for the handlers after it and
// for the delivery. Its exit status decides:
//   0    pass: the next handler runs;
//   99   accept: the handlers after it are skipped;
//   100  refuse: the message is rejected (bounced);
//   101  discard: the message is accepted and dropped;
//   111  defer: the message is tried again later.
// The first line of its standard output is the answer given with a refusal
// or deferral. Any other status, a signal, a missing program and a handler
// still running at its time limit (killed with its process group) defer
// the message: a fault in a handler never loses mail.
//
// Failures of the runner's own (a file, pipe or fork it cannot make) raise
// korvo::SystemError naming the operation; callers treat them as a deferral.
#ifndef KORVO_HANDLERS_HANDLERRUNNER_H
#define KORVO_HANDLERS_HANDLERRUNNER_H

#include "handlers/HandlerQueues.h"
#include "utils/FdOwner.h"

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace korvo::handlers {

inline constexpr int HANDLER_PASS = 0;
inline constexpr int HANDLER_ACCEPT = 99;
inline constexpr int HANDLER_REFUSE = 100;
inline constexpr int HANDLER_DISCARD = 101;
inline constexpr int HANDLER_DEFER = 111;

enum class Verdict { Pass, Refuse, Discard, Defer };

struct ChainOutcome {
    Verdict verdict = Verdict::Pass;
    std::string handler; // the one that decided; empty when all passed
    std::string answer;  // its first output line, or why it deferred
    // The message as the last changing handler left it; null when no
    // handler changed it.
    std::shared_ptr<FdOwner> replacement;
};

struct RunLimits {
    std::chrono::milliseconds perHandler;
    std::chrono::milliseconds total;
    std::string spoolDirectory; // where replaced messages are kept, unnamed
};

// Runs handlers in order over the message in messageFd (any readable
// file; read from its start).
ChainOutcome runHandlers(const std::vector<Handler>& handlers, const std::string& hook,
                         const MessageParties& parties, int messageFd, const RunLimits& limits);

} // namespace korvo::handlers

#endif
