#include "front/SettingsCommands.h"

#include "front/CommandOptions.h"
#include "front/LibraryResult.h"
#include "front/MailOptions.h"
#include "front/NameChecks.h"
#include "front/OptionValueTypes.h"
#include "front/ProgramOptionsHelper.h"
#include "mail/settings/CourierSettings.h"
#include "mail/settings/Spf.h"
#include "postfix/config/MainCfManager.h"
#include "postfix/managers/SettingsManager.h"
#include "postfix/service/ServiceManager.h"
#include "utils/Exceptions.h"
#include "utils/Features.h"

#include <arpa/inet.h>
#include <boost/algorithm/string/classification.hpp>
#include <boost/algorithm/string/split.hpp>
#include <boost/lexical_cast.hpp>
#include <cstdint>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

namespace po = boost::program_options;

namespace korvo::mail::postfix::vornctl_commands {

namespace {

const char shortNamesRefused[] = "short account-format is not supported for Postfix"
                                 " isn't supported";

struct Feature {
    const char* name;
    const char* value;
};

const Feature features[] = {
    {"MailName_SetName", "true"},
    {"MailName_SetDomain", "true"},
    {"MailName_Quota", "true"},
    {"MailName_SetQuota", "true"},
    {"MailName_Size", "true"},
    {"MailName_Password", "true"},
    {"MailName_SetPassword", "true"},
    {"MailName_Postbox", "true"},
    {"MailName_SetPostbox", "true"},
    {"MailName_Forward", "true"},
    {"MailName_MultiForward", "true"},
    {"MailName_SetForward", "true"},
    {"MailName_AutoResponder", "true"},
    {"MailName_SetAutoResponder", "true"},
    {"MailName_Aliases", "true"},
    {"Domain_SetName", "true"},
    {"Domain_Enable", "true"},
    {"Domain_SetEnable", "true"},
    {"Domain_Quota", "true"},
    {"Domain_SetQuota", "true"},
    {"Domain_Bounce", "true"},
    {"Domain_SetBounce", "true"},
    {"Domain_Catch", "true"},
    {"Domain_SetCatch", "true"},
    {"Domain_Reject", "true"},
    {"Common_BadMail", "true"},
    {"Common_MaxLetterSize", "true"},
    {"Common_SetMaxLetterSize", "true"},
    {"Relay", "true"},
    {"Relay_Set", "true"},
    {"Relay_Open", "true"},
    {"Relay_Closed", "true"},
    {"Relay_AuthorizationIsRequired", "true"},
    {"Relay_AuthType_None", "true"},
    {"Relay_AuthType_POP3_SMTP", "true"},
    {"Relay_AuthType_POP3", "false"},
    {"Relay_AuthType_SMTP", "true"},
    {"Relay_POP3_LockTime", "true"},
    {"Relay_WhiteList", "true"},
    {"Relay_WhiteList_Mask", "true"},
    {"Relay_BlackList", "true"},
    {"Relay_WhiteList_BlackList", "true"},
    {"MapsProtection", "true"},
    {"SetMapsProtection", "true"},
    {"AccountsFormat_Simple", "false"},
    {"AccountsFormat_Compound", "true"},
    {"AccountsFormat_Both", "false"},
    {"AccountsFormat_Set", "true"},
    {"Mail_Send", "true"},
    {"Mail_Attachments", "true"},
    {"Mail_Forward", "true"},
    {"SMTP_Server", "Postfix"},
    {"IMAP_POP3_Server", "Courier-IMAP"},
    {"SMTP_Server_package", "postfix"},
    {"IMAP_POP3_Server_package", "courier-imap"},
    {"Message_Submission", "true"},
    {"Message_Submission_all_IP", "true"},
    {"Message_Submission_Dedicated_IP", "false"},
};

// A main.cf size parameter as a number; text that is no number ends the run
// through main with the conversion's exception.
std::int64_t mainCfNumber(const std::string& name) {
    return boost::lexical_cast<std::int64_t>(
        MainCfManager::getInstance().getStringValue(name, false));
}

int printMainCfNumber(const std::string& name) {
    std::cout << mainCfNumber(name) << std::endl;
    return 0;
}

// An SPF setting: absent leaves its file alone (null), "-" empties it. The
// value is one line of a settings file.
const char* spfValue(const ProgramOptionsHelper& helper, const char* name) {
    if (!hasOption(helper, name))
        return nullptr;
    const std::string& value = stringOption(helper, name);
    checkSingleLine(value, std::string("--") + name);
    return value == "-" ? "" : value.c_str();
}

// "ADDRESS/PREFIX" of the white-list commands. The address becomes part of
// main.cf's mynetworks, so nothing but a dotted IPv4 address may pass.
std::string whiteListEntry(ProgramOptionsHelper& helper) {
    const std::string address = stringOption(helper, "ip-address");
    in_addr parsed{};
    if (::inet_pton(AF_INET, address.c_str(), &parsed) != 1)
        throw std::invalid_argument("--ip-address: '" + address + "' is no dotted IPv4 address");
    return address + "/" + std::to_string(helper.variables["netmask"].as<IPv4Mask>().prefix);
}

void parseWhiteList(ProgramOptionsHelper& helper, int argc, char** argv) {
    ProgramOptionsHelper::OptionAppender declare(helper);
    declare("ip-address", po::value<std::string>(), "IPv4 address",
            true)("netmask", po::value<IPv4Mask>(), "netmask", true);
    standardOptionsParse(helper, argc, argv);
}

int printFeatures(int, char**) {
    for (const Feature& feature : features)
        print_feature(feature.name, feature.value);
    return 0;
}

int getMaxLetterSize(int, char**) {
    return printMainCfNumber("message_size_limit");
}

int getMailboxLimit(int, char**) {
    return printMainCfNumber("mailbox_size_limit");
}

int setMaxLetterSize(int argc, char** argv) {
    ProgramOptionsHelper helper("set maximal letter size", usageSyntax(setMaxLetterSizeCommand));
    ProgramOptionsHelper::OptionAppender declare(helper);
    declare("size", po::value<long>(), "letter size", true);
    standardOptionsParse(helper, argc, argv);
    std::int64_t size = helper.variables["size"].as<long>();
    // 0 means as large as a mailbox may be.
    if (size == 0)
        size = mainCfNumber("mailbox_size_limit");
    MainCfManager::getInstance().replaceStringValue("message_size_limit", std::to_string(size));
    ServiceManager::reloadServer();
    return 0;
}

int setMailParams(int argc, char** argv) {
    ProgramOptionsHelper helper("set mail server parameters", usageSyntax(setMailParamsCommand));
    ProgramOptionsHelper::OptionAppender declare(helper);
    declare("relayclient", "whether to enable mail relaying (disabled by default)")(
        "smtpauth", "whether to enable SMTP authorization (disabled by default)")(
        "popauth", "whether to enable POP3 before SMTP authorization (disabled by default)")(
        "poplock-time", po::value<short>()->default_value(-1, "-1"),
        "POP3 authorization validity time")(
        "shortnames", "whether to enable short names (legacy, not supported)");
    standardOptionsParse(helper, argc, argv);
    if (hasOption(helper, "shortnames"))
        throw korvo::NotSupportedError(shortNamesRefused);
    const bool relayClient = hasOption(helper, "relayclient");
    const bool popAuth = hasOption(helper, "popauth");
    if (failed(set_courier_params(relayClient ? 1 : 0, popAuth ? 1 : 0,
                                  helper.variables["poplock-time"].as<short>(), 0)))
        return 1;
    if (relayClient)
        SettingsManager::setOpenRelay();
    else
        SettingsManager::setAuthRelay(hasOption(helper, "smtpauth"), popAuth);
    ServiceManager::reloadServer();
    return 0;
}

int updateSPF(int argc, char** argv) {
    ProgramOptionsHelper helper("update SPF rules", usageSyntax(updateSpfCommand));
    ProgramOptionsHelper::OptionAppender declare(helper);
    declare("spf-behavior", po::value<std::string>(),
            "SPF behavior")("spf-rules", po::value<std::string>(), "SPF rules")(
        "spf-guess", po::value<std::string>(), "SPF guess")("spf-exp", po::value<std::string>(),
                                                            "SPF exp");
    standardOptionsParse(helper, argc, argv);
    const char* behavior = spfValue(helper, "spf-behavior");
    const char* rules = spfValue(helper, "spf-rules");
    const char* guess = spfValue(helper, "spf-guess");
    const char* exp = spfValue(helper, "spf-exp");
    return statusOf(update_spf(behavior, rules, guess, exp));
}

int setAccountsFormat(int argc, char** argv) {
    ProgramOptionsHelper helper("set accounts format",
                                "--set-accounts-format --account-format=\"compound\"");
    ProgramOptionsHelper::OptionAppender declare(helper);
    declare("account-format", po::value<ShortnameFormat>(),
            "Accounts format (currently only compound supported)", true);
    standardOptionsParse(helper, argc, argv);
    if (helper.variables["account-format"].as<ShortnameFormat>() == ShortnameFormat::both)
        throw korvo::NotSupportedError(shortNamesRefused);
    return set_courier_shortnames_params(0);
}

int setMapsProtection(int argc, char** argv) {
    ProgramOptionsHelper helper("set MAPS protection", usageSyntax(setMapsProtectionCommand));
    ProgramOptionsHelper::OptionAppender declare(helper);
    declare("maps-zones", po::value<std::vector<std::string>>(), "MAPS zones", false);
    standardOptionsParse(helper, argc, argv);
    std::vector<std::string> zones;
    if (helper.variables.count("maps-zones")) {
        for (const std::string& value :
             helper.variables["maps-zones"].as<std::vector<std::string>>()) {
            std::vector<std::string> pieces;
            boost::algorithm::split(pieces, value, boost::algorithm::is_any_of(" \t,"),
                                    boost::algorithm::token_compress_on);
            zones.insert(zones.end(), pieces.begin(), pieces.end());
        }
    }
    // Empty pieces are dropped by the settings manager; every other one
    // becomes an RBL check in main.cf.
    for (const std::string& zone : zones)
        if (!zone.empty())
            checkDomainName(zone, "--maps-zones");
    SettingsManager::setRBLHosts(zones.cbegin(), zones.cend());
    ServiceManager::reloadServer();
    return 0;
}

int addWhiteList(int argc, char** argv) {
    ProgramOptionsHelper helper("add a network to whitelist", usageSyntax(addWhitelistCommand));
    parseWhiteList(helper, argc, argv);
    MainCfManager::getInstance().appendStringValue("mynetworks", whiteListEntry(helper));
    ServiceManager::reloadServer();
    return 0;
}

int removeWhiteList(int argc, char** argv) {
    ProgramOptionsHelper helper("remove a network from whitelist",
                                usageSyntax(removeWhitelistCommand));
    parseWhiteList(helper, argc, argv);
    const std::string entry = whiteListEntry(helper);
    // The loopback networks always stay trusted.
    if (entry.rfind("127.", 0) != 0)
        MainCfManager::getInstance().removeListElement("mynetworks", entry);
    ServiceManager::reloadServer();
    return 0;
}

int addBadMailFrom(int argc, char** argv) {
    ProgramOptionsHelper helper("add a badmailfrom", "--add-badmailfrom --domain-name=<domain>");
    SettingsManager::addBlackDomain(parseDomainName(helper, argc, argv));
    return 0;
}

int removeBadMailFrom(int argc, char** argv) {
    ProgramOptionsHelper helper("remove a badmailfrom",
                                "--remove-badmailfrom --domain-name=<domain>");
    SettingsManager::removeBlackDomain(parseDomainName(helper, argc, argv));
    return 0;
}

} // namespace

#define WHITELIST_SYNTAX "--ip-address=<ip_address> --netmask=<netmask>"

const CommandDescription addBadmailfromCommand{"--add-badmailfrom", addBadMailFrom,
                                               "--domain-name=<domain_name>",
                                               "adds mail domain to the blacklist"};
const CommandDescription removeBadmailfromCommand{"--remove-badmailfrom", removeBadMailFrom,
                                                  "--domain-name=<domain_name>",
                                                  "removes mail domain from the blacklist"};
const CommandDescription addWhitelistCommand{"--add-whitelist", addWhiteList, WHITELIST_SYNTAX,
                                             "adds the subnet to the white-list"};
const CommandDescription removeWhitelistCommand{"--remove-whitelist", removeWhiteList,
                                                WHITELIST_SYNTAX,
                                                "removes the subnet from the white-list"};
const CommandDescription setMapsProtectionCommand{
    "--set-maps-protection", setMapsProtection, "[--maps-zones=<zone1,zone2,...,zoneN>]",
    "installs MAPS protection. Absent list of zones == disabled"};
const CommandDescription setAccountsFormatCommand{"--set-accounts-format", setAccountsFormat,
                                                  "--account-format=(\"compound\" | \"both\")",
                                                  "sets the POP3/IMAP accounts format"};
const CommandDescription featuresCommand{
    "--features", printFeatures, "",
    "returns PHP code which reflects state of several features support in vornctl."
    "\n        Currently they are auth-type and format"};
const CommandDescription setMaxLetterSizeCommand{"--set-max-letter-size", setMaxLetterSize,
                                                 "--size=<size_in_bytes>",
                                                 "sets maximum letter size"};
const CommandDescription getMaxLetterSizeCommand{"--get-max-letter-size", getMaxLetterSize, "",
                                                 "gets maximum letter size"};
const CommandDescription getMailboxSizeLimitCommand{"--get-mailbox-size-limit", getMailboxLimit, "",
                                                    "gets size limit of mailbox"};
const CommandDescription updateSpfCommand{
    "--update-spf", updateSPF,
    "[--spf-behavior=spf_behavior] [--spf-rules=spf_rules] [--spf-guess=spf_guess] "
    "[--spf-exp=<spf_exp>]",
    "updates SPF support configuration files"};
const CommandDescription setMailParamsCommand{
    "--set-mail-params", setMailParams,
    "[--relayclient] [--smtpauth] [--popauth] [--poplock-time=<time_in_seconds>] [--shortnames]",
    "sets relaying & mailnames parameters"};

} // namespace korvo::mail::postfix::vornctl_commands
