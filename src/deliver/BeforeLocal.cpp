#include "deliver/BeforeLocal.h"

#include "deliver/DeliveryFailure.h"
#include "handlers/HandlerRunner.h"
#include "utils/UnnamedFile.h"

namespace korvo::deliver {

namespace {

constexpr auto HANDLER_TIME_LIMIT = std::chrono::seconds(60);
constexpr auto HANDLERS_TOTAL_LIMIT = std::chrono::seconds(300);

} // namespace

LocalHandling runBeforeLocalHandlers(const Envelope& envelope, const SpooledMessage& message,
                                     const std::string& spoolDirectory) {
    using handlers::Verdict;
    LocalHandling handling;
    try {
        const handlers::MessageParties parties{envelope.sender, {envelope.recipient}};
        const std::vector<handlers::Handler> found = handlers::applicableHandlers(
            handlers::REGISTRY_ROOT, handlers::HOOK_BEFORE_LOCAL, parties);
        if (found.empty())
            return handling;
        const FdOwner reader(message.openReader());
        const handlers::ChainOutcome outcome =
            handlers::runHandlers(found, handlers::HOOK_BEFORE_LOCAL, parties, reader.get(),
                                  {HANDLER_TIME_LIMIT, HANDLERS_TOTAL_LIMIT, spoolDirectory});
        switch (outcome.verdict) {
        case Verdict::Pass:
            if (outcome.replacement) {
                const FdOwner changed(reopenForReading(outcome.replacement->get()));
                handling.replaced = std::make_unique<SpooledMessage>(changed.get(), spoolDirectory);
            }
            return handling;
        case Verdict::Discard:
            handling.deliver = false;
            return handling;
        case Verdict::Refuse:
            bounceDelivery(outcome.answer.empty() ? "refused by handler " + outcome.handler
                                                  : outcome.answer);
        case Verdict::Defer:
            break;
        }
        deferDelivery(outcome.answer);
    } catch (const DeliveryFailure&) {
        throw;
    } catch (const std::exception& error) {
        deferDelivery(std::string("before-local handlers: ") + error.what());
    }
}

} // namespace korvo::deliver
