#include "postfix/managers/RollbackSteps.h"

#include "postfix/tables/Tables.h"
#include "utils/ErrorStream.h"

#include <ostream>

namespace korvo::mail::postfix {

const std::string doubleErrorHead = "CRITICAL ERROR: Unable to properly restore ";
const std::string doubleErrorTail =
    " used by Korvo.\nMail system may be not usable at the moment and it cannot be repaired "
    "automatically.\nConstact Trevane support to resolve this issue.";

std::string tableTitle(const std::string& table) {
    if (table == tables::VIRTUAL_DOMAINS) {
        return "Postfix Virtual Domains Database";
    }
    if (table == tables::VIRTUAL) {
        return "Postfix Virtual Aliases Database";
    }
    if (table == tables::VMAILBOX) {
        return "Postfix Virtual Mailboxes Database";
    }
    return table;
}

void RollbackSteps::arm(const std::string& table, Step step) {
    steps.emplace_back(table, std::move(step));
}

void RollbackSteps::run() noexcept {
    while (!steps.empty()) {
        const std::pair<std::string, Step> step = std::move(steps.back());
        steps.pop_back();
        try {
            step.second();
        } catch (...) {
            try {
                uerr << doubleErrorHead << tableTitle(step.first) << doubleErrorTail << std::endl;
            } catch (...) {
                // Nowhere left to report to; the other tables still get restored.
            }
        }
    }
}

} // namespace korvo::mail::postfix
