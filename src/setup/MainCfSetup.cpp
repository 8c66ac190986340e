#include "setup/MainCfSetup.h"

#include "postfix/config/MainCfManager.h"
#include "postfix/tables/PostfixUtilities.h"
#include "postfix/tables/Tables.h"
#include "process/DescriptorSpec.h"
#include "process/Pipe.h"
#include "setup/SetupPaths.h"
#include "utils/Exceptions.h"

#include <algorithm>
#include <boost/algorithm/string.hpp>

namespace korvo::setup {

namespace tables = mail::postfix::tables;
namespace utilities = mail::postfix::utilities;

namespace {

std::vector<std::string> words(const std::string& text) {
    std::vector<std::string> result;
    boost::algorithm::split(result, text, boost::algorithm::is_any_of(" \t\r\n,"),
                            boost::algorithm::token_compress_on);
    result.erase(std::remove(result.begin(), result.end(), std::string()), result.end());
    return result;
}

// What main.cf itself sets for name: empty when it sets nothing.
std::string configuredValue(const std::string& name) {
    process::Pipe pipe(utilities::postconfConfigured(name));
    std::string output;
    pipe.flags.stdoutChannel.fd = process::FD_PIPE;
    pipe.flags.stdoutChannel.function = process::makeStringReceiver(output);
    std::string errors;
    if (!utilities::exitedSuccessfully(utilities::runCollectingErrors(pipe, errors)))
        throw mail::postfix::PostfixConfigurationError(utilities::errorMessage(errors));
    boost::algorithm::trim(output);
    return output;
}

// Edits value for an owned setting; returns the change to report, empty
// when nothing is to be written.
std::string editOwned(const MainCfSetting& setting, bool force, std::string& value,
                      SetupReport& report) {
    const std::string configured = configuredValue(setting.name);
    if (configured == setting.value)
        return "";
    const std::string change = "main.cf: " + setting.name + " = " + setting.value;
    if (configured.empty()) {
        value = setting.value;
        return change;
    }
    if (!force) {
        report.refused("main.cf: " + setting.name + " is \"" + configured +
                       "\"; left as it is (--force sets \"" + setting.value + "\")");
        return "";
    }
    value = setting.value;
    return change + " (was \"" + configured + "\")";
}

std::string editList(const MainCfSetting& setting, std::string& value) {
    if (listHoldsItem(value, setting.value))
        return "";
    boost::algorithm::trim(value);
    value += (value.empty() ? "" : ", ") + setting.value;
    return "main.cf: " + setting.name + ": added " + setting.value;
}

} // namespace

std::vector<MainCfSetting> wantedMainCfSettings() {
    using Kind = MainCfSetting::Kind;
    return {
        {"virtual_mailbox_domains", tables::VIRTUAL_DOMAINS, Kind::Owned},
        {"virtual_mailbox_maps", tables::VMAILBOX, Kind::Owned},
        {"virtual_transport", TRANSPORT, Kind::Owned},
        // The agent carries out one recipient's .qmail per run.
        {std::string(TRANSPORT) + "_destination_recipient_limit", "1", Kind::Owned},
        {"virtual_alias_maps", tables::VIRTUAL, Kind::ListItem},
        // The domains' bounce programs are local aliases.
        {"alias_maps", tables::ALIASES, Kind::ListItem},
        {"smtpd_sender_restrictions", std::string("check_sender_access ") + tables::BLACKLISTS,
         Kind::ListItem},
        // Standard addresses and bounce aliases are delivered locally there.
        {"mydestination", "localhost.localdomain", Kind::ListItem},
    };
}

bool listHoldsItem(const std::string& list, const std::string& item) {
    const std::vector<std::string> have = words(list);
    const std::vector<std::string> want = words(item);
    return !want.empty() &&
           std::search(have.begin(), have.end(), want.begin(), want.end()) != have.end();
}

bool ensureMainCf(bool force, SetupReport& report) {
    const mail::postfix::MainCfManager& mainCf = mail::postfix::MainCfManager::getInstance();
    bool written = false;
    for (const MainCfSetting& setting : wantedMainCfSettings()) {
        std::string change;
        mainCf.editValue(setting.name, [&](std::string& value) {
            change = setting.kind == MainCfSetting::Owned ? editOwned(setting, force, value, report)
                                                          : editList(setting, value);
            return !change.empty();
        });
        if (!change.empty()) {
            report.changed(change);
            written = true;
        }
    }
    return written;
}

} // namespace korvo::setup
