#include "mail/settings/Autoresponder.h"

#include "mail/handlers/HandlerRegistry.h"
#include "mail/handlers/MailHandlers.h"
#include "utils/Idn.h"
#include "utils/Logging.h"
#include "utils/MallocOwners.h"

#include <memory>
#include <string>
#include <vector>

namespace {

constexpr std::size_t addressMax = 254;

// The addresses of every mailname at every domain; false after a message.
bool addressesOf(const char* mailnames, const char* domains, std::vector<std::string>* out) {
    const korvo::StringListOwner names(string_split(mailnames != nullptr ? mailnames : "", ", "));
    if (names.get() == nullptr) {
        korvo_log(LOG_LEVEL_ERROR, "Unable to split mailnames list");
        return false;
    }
    const korvo::StringListOwner domainList(string_split(domains != nullptr ? domains : "", ", "));
    if (domainList.get() == nullptr) {
        korvo_log(LOG_LEVEL_ERROR, "Unable to split domains list");
        return false;
    }
    std::vector<std::string> asciiDomains;
    for (char** domain = domainList.get(); *domain != nullptr; ++domain) {
        if (**domain == '\0')
            continue;
        const korvo::MallocString ascii(idn_toascii(*domain));
        if (ascii == nullptr) {
            korvo_log(LOG_LEVEL_ERROR, "idn_toascii() failed: %s", idn_strerror(idn_errno));
            return false;
        }
        asciiDomains.emplace_back(ascii.get());
    }
    for (char** name = names.get(); *name != nullptr; ++name) {
        if (**name == '\0')
            continue;
        for (const std::string& domain : asciiDomains) {
            std::string address = std::string(*name) + "@" + domain;
            if (address.size() > addressMax) {
                korvo_log(LOG_LEVEL_ERROR, "domain name too long\n");
                return false;
            }
            out->push_back(std::move(address));
        }
    }
    return true;
}

// Adds or removes the autoresponder of address; false when that failed.
bool applyTo(const std::string& address, int action) {
    const korvo::MallocString found(
        get_handler_name("autoresponder", "recipient", address.c_str(), "before-local"));
    if (action == AUTORESPONDER_ADD && found == nullptr)
        return mail_handler_add("autoresponder", "recipient", address.c_str(),
                                KORVO_AUTORESPONDER_HOOK, "responder", "before-local", "90",
                                HANDLER_ENABLE) == 0;
    if (action == AUTORESPONDER_REMOVE && found != nullptr)
        return mail_handler_remove(found.get()) == 0;
    return true;
}

} // namespace

int autoresponder_action(const char* mailnames, const char* domains, int action) {
    std::vector<std::string> addresses;
    if (!addressesOf(mailnames, domains, &addresses))
        return -1;
    bool failed = false;
    for (const std::string& address : addresses)
        if (!applyTo(address, action))
            failed = true;
    if (failed) {
        return korvo_error("Unable to make action for some autoresponder handlers");
    }
    return 0;
}
