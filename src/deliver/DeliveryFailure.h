// Why a delivery did not complete, and what Postfix is told.
//
// The delivery agent reports through its exit status, which Postfix's pipe
// transport reads as sysexits codes: EX_TEMPFAIL keeps the message queued
// for another try, every other non-zero code returns it to the sender. The
// message text goes to standard error, where Postfix picks it up for its log
// and for the delivery status notification.
#ifndef KORVO_DELIVER_DELIVERYFAILURE_H
#define KORVO_DELIVER_DELIVERYFAILURE_H

#include <stdexcept>
#include <string>

namespace korvo::deliver {

inline constexpr int EXIT_DELIVERED = 0;
inline constexpr int EXIT_UNAVAILABLE = 69;  // EX_UNAVAILABLE
inline constexpr int EXIT_TEMPORARY = 75;    // EX_TEMPFAIL

class DeliveryFailure : public std::runtime_error {
public:
    enum Kind { Defer, Bounce };

    DeliveryFailure(Kind kind, const std::string& message)
        : std::runtime_error(message), kind_(kind) {}

    Kind kind() const { return kind_; }
    int exitStatus() const { return kind_ == Defer ? EXIT_TEMPORARY : EXIT_UNAVAILABLE; }

private:
    Kind kind_;
};

[[noreturn]] inline void deferDelivery(const std::string& message) {
    throw DeliveryFailure(DeliveryFailure::Defer, message);
}

[[noreturn]] inline void bounceDelivery(const std::string& message) {
    throw DeliveryFailure(DeliveryFailure::Bounce, message);
}

} // namespace korvo::deliver

#endif
