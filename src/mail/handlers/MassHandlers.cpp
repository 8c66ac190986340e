#include "mail/handlers/MassHandlers.h"

#include "mail/handlers/HandlerNames.h"
#include "mail/handlers/HandlerRegistry.h"
#include "mail/handlers/MailHandlers.h"
#include "utils/Logging.h"
#include "utils/MallocOwners.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

int reportErrors(int errors) {
    if (errors == 0)
        return 0;
    return korvo_error("Some errors was occured in mass hook operation. errors: %i", errors);
}

// Applies action to name; true when it did not fail.
bool applyAction(const std::string& name, const char* newValue, int action) {
    if (control_handler_queue(name.c_str(), newValue, action) >= 0)
        return true;
    korvo_log(LOG_LEVEL_ERROR, "Unable to exec action for handler: %s\n", name.c_str());
    return false;
}

// Whether a handler bound to param is one of value's; target gets the new
// value of a copy or move when newValue is given.
bool boundTo(const char* param, const char* value, const char* newValue, std::string* target) {
    if (std::strcmp(param, value) == 0) {
        if (newValue != nullptr)
            target->assign(newValue);
        return true;
    }
    const char* at = std::strrchr(param, '@');
    if (std::strchr(value, '@') != nullptr || at == nullptr || std::strcmp(at + 1, value) != 0)
        return false;
    if (newValue != nullptr)
        *target = std::string(param, at) + "@" + newValue;
    return true;
}

// The address or domain the handler is bound to (the value of its type's
// parameter); null after a message when its type or value cannot be read.
korvo::MallocString boundValueOf(const std::string& name) {
    const korvo::MallocString type(get_handler_parameter(name.c_str(), "handler-type"));
    if (type == nullptr) {
        korvo_log(LOG_LEVEL_ERROR, "Unable to get type of handler: %s\n", name.c_str());
        return korvo::MallocString();
    }
    korvo::MallocString param(get_handler_parameter(name.c_str(), type.get()));
    if (param == nullptr)
        korvo_log(LOG_LEVEL_ERROR, "Unable to get mailname from handler: %s\n", name.c_str());
    return param;
}

} // namespace

int mass_control_handler_by_mailname(const char* value, const char* newValue, int action) {
    if (value == nullptr || *value == '\0') {
        return korvo_error("Some parameter was not defined");
    }
    std::vector<std::string> names;
    if (handler_list(&names) != 0)
        return -1;
    int errors = 0;
    for (const std::string& name : names) {
        const korvo::MallocString param = boundValueOf(name);
        if (param == nullptr) {
            ++errors;
            continue;
        }
        std::string target;
        if (!boundTo(param.get(), value, newValue, &target))
            continue;
        if (!applyAction(name, newValue != nullptr ? target.c_str() : nullptr, action))
            ++errors;
    }
    return reportErrors(errors);
}

std::vector<std::string> mass_remove_handlers_of(const std::vector<std::string>& addresses) {
    std::vector<std::string> names;
    if (addresses.empty())
        return {};
    if (handler_list(&names) != 0)
        return addresses;
    std::vector<bool> failedAt(addresses.size(), false);
    int errors = 0;
    for (const std::string& name : names) {
        const korvo::MallocString param = boundValueOf(name);
        if (!param) {
            ++errors;
            failedAt.assign(addresses.size(), true);
            continue;
        }
        const auto bound = std::find(addresses.begin(), addresses.end(), param.get());
        if (bound != addresses.end() && !applyAction(name, nullptr, HANDLER_REMOVE)) {
            ++errors;
            failedAt[static_cast<std::size_t>(bound - addresses.begin())] = true;
        }
    }
    reportErrors(errors);
    std::vector<std::string> failedAddresses;
    for (std::size_t i = 0; i < addresses.size(); ++i)
        if (failedAt[i])
            failedAddresses.push_back(addresses[i]);
    return failedAddresses;
}

int mass_control_handler_queue(const char* templ, int action) {
    if (templ == nullptr || *templ == '\0') {
        return korvo_error("Some parameter(s) were not defined");
    }
    std::vector<std::string> names;
    if (handler_list(&names) != 0)
        return -1;
    const bool all = std::strcmp(templ, "all") == 0;
    int errors = 0;
    for (const std::string& name : names) {
        if (!all) {
            HandlerNameParts parts;
            if (handler_name_split(name.c_str(), &parts) != 0) {
                ++errors;
                continue;
            }
            if (parts.templ != templ)
                continue;
        }
        if (!applyAction(name, nullptr, action))
            ++errors;
    }
    return reportErrors(errors);
}
