// Which registered mail handlers apply to one message at one hook.
//
// The registry keeps one queue directory per address or domain and hook
// (HOOK/global, HOOK/sender/ADDRESS, HOOK/recipient/ADDRESS,
// HOOK/sender-domain/DOMAIN, HOOK/recipient-domain/DOMAIN) holding one
// empty file per enabled handler. Finding the handlers of a message reads
// only the queues that concern its sender and recipients, so the cost does
// not grow with the handlers registered for other addresses. A missing
// queue is an empty one. A handler found in several of those queues runs
// once; the result is in the order handlers_compare gives (priority, then
// template, then random part).
//
// For each handler its program (the target of info/NAME/executable, empty
// when the link is missing, so that running it defers) and its context
// (info/NAME/context, empty when absent) are read. An address or domain
// that could not be a queue name (empty, ".", "..", holding "/") has no
// queue. A queue or parameter that exists but cannot be read raises
// korvo::SystemError naming the path: the caller treats it as a temporary
// failure.
#ifndef KORVO_HANDLERS_HANDLERQUEUES_H
#define KORVO_HANDLERS_HANDLERQUEUES_H

#include "mail/handlers/HandlerRegistry.h"

#include <string>
#include <vector>

namespace korvo::handlers {

inline constexpr char REGISTRY_ROOT[] = KORVO_HANDLERS_ROOT;
inline constexpr char HOOK_BEFORE_QUEUE[] = "before-queue";
inline constexpr char HOOK_BEFORE_LOCAL[] = "before-local";
inline constexpr char HOOK_BEFORE_REMOTE[] = "before-remote";

struct Handler {
    std::string name;
    std::string executable;
    std::string context;
};

struct MessageParties {
    std::string sender; // empty for a bounce
    std::vector<std::string> recipients;
};

std::vector<Handler> applicableHandlers(const std::string& root, const std::string& hook,
                                        const MessageParties& parties);

} // namespace korvo::handlers

#endif
