// The recipient's before-local mail handlers, run before its .qmail lines.
//
// The handlers that concern the envelope (global, the sender's and the
// recipient's address and domain queues of the before-local hook) run in
// the mail home, the agent's current directory, one after the other
// (handlers/HandlerRunner.h). A refusal bounces the message with the
// handler's answer, a deferral or any fault of a handler (crash, time limit,
// missing program) or of the registry defers it, a discard ends the
// delivery with success and nothing stored; otherwise the .qmail lines get
// the message as the last changing handler left it.
//
// Failures are thrown as DeliveryFailure.
#ifndef KORVO_DELIVER_BEFORELOCAL_H
#define KORVO_DELIVER_BEFORELOCAL_H

#include "deliver/Delivery.h"
#include "deliver/SpooledMessage.h"

#include <memory>

namespace korvo::deliver {

struct LocalHandling {
    bool deliver = true;
    std::unique_ptr<SpooledMessage> replaced; // null: the message as received
};

LocalHandling runBeforeLocalHandlers(const Envelope& envelope, const SpooledMessage& message,
                                     const std::string& spoolDirectory);

} // namespace korvo::deliver

#endif
