#include "mail/storage/DotQMailManager.h"

#include "mail/storage/DotQMail.h"
#include "utils/Exceptions.h"

#include <cerrno>

namespace korvo::mail {

void DotQMailManager::check(int result) const {
    if (result != 0)
        throw SystemError("unable to modify " + path_, errno);
}

void DotQMailManager::reset() const {
    check(dotqmail_reset(path_.c_str()));
}

void DotQMailManager::enableDelivery() const {
    check(dotqmail_add_delivery(path_.c_str()));
}

void DotQMailManager::disableDelivery() const {
    check(dotqmail_remove_delivery(path_.c_str()));
}

void DotQMailManager::addRedirect(const std::string& address, Position) const {
    check(dotqmail_add_forward(path_.c_str(), address.c_str()));
}

void DotQMailManager::removeRedirect(const std::string& address) const {
    check(dotqmail_remove_forward(path_.c_str(), address.c_str()));
}

} // namespace korvo::mail
