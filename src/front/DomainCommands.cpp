#include "front/DomainCommands.h"

#include "front/CommandOptions.h"
#include "front/MailOptions.h"
#include "front/ProgramOptionsHelper.h"
#include "mail/auth/MailAuth.h"
#include "mail/auth/MailAuthAliases.h"
#include "mail/handlers/MailHandlers.h"
#include "mail/handlers/MassHandlers.h"
#include "mail/storage/MaildirPPManager.h"
#include "postfix/managers/DomainManager.h"
#include "utils/ErrorStream.h"

#include <ostream>
#include <string>

namespace po = boost::program_options;

namespace korvo::mail::postfix::vornctl_commands {

namespace {

// The authentication step first: when the database refuses, neither the
// tables nor the handlers are touched.
int switchDomain(int argc, char** argv, const char* description, const char* syntax,
                 int (*authAction)(const char*), const char* authText, int handlerAction) {
    ProgramOptionsHelper helper(description, syntax);
    const std::string domain = parseDomainName(helper, argc, argv);
    if (domain_auth_action(domain.c_str(), authAction, authText) == -1)
        return 1;
    if (handlerAction == HANDLER_ENABLE)
        DomainManager::enableDomain(domain);
    else
        DomainManager::disableDomain(domain);
    mass_control_handler_by_mailname(domain.c_str(), nullptr, handlerAction);
    return 0;
}

int rejectUnknownMailnames(int argc, char** argv, const char* description, const char* syntax) {
    ProgramOptionsHelper helper(description, syntax);
    DomainManager::removeCatchall(parseDomainName(helper, argc, argv));
    return 0;
}

} // namespace

int addDomain(int argc, char** argv) {
    ProgramOptionsHelper helper("add a domain",
                                "--add-domain --domain-name=<domain> [--disk-quota=quota]");
    ProgramOptionsHelper::OptionAppender declare(helper);
    declare("domain-name", po::value<std::string>(), "domain name",
            true)("disk-quota", po::value<long>(), "disk quota");
    standardOptionsParse(helper, argc, argv);
    const std::string domain = domainOption(helper, "domain-name");
    const bool withQuota = hasOption(helper, "disk-quota");
    // A re-run on a domain the panel switched off keeps it off, records and
    // all: only --turn-on-domain brings back its addresses, aliases and
    // logins. The quota is all such a run may change.
    const int switchedOff = mailAuthDomainDisabled(domain.c_str());
    if (switchedOff == -1)
        return 1;
    if (switchedOff == 1) {
        if (withQuota)
            MaildirPPManager::getInstance().setDomainQuota(
                domain, helper.variables["disk-quota"].as<long>());
        return 0;
    }
    if (withQuota)
        DomainManager::createDomain(domain, helper.variables["disk-quota"].as<long>(), false);
    else
        DomainManager::createDomain(domain, false);
    return 0;
}

int removeDomain(int argc, char** argv) {
    ProgramOptionsHelper helper("remove a domain", "--remove-domain --domain-name=<domain>");
    const std::string domain = parseDomainName(helper, argc, argv);
    if (domain_auth_action(domain.c_str(), mailAuthRemoveDomain, "remove auth record") == -1)
        return 1;
    DomainManager::removeDomain(domain, korvo::mail::Remove);
    if (mass_control_handler_by_mailname(domain.c_str(), nullptr, HANDLER_REMOVE) != 0)
        korvo::uerr << "WARNING: unable to properly remove all mail handlers for " << domain
                    << std::endl;
    return 0;
}

int enableDomain(int argc, char** argv) {
    return switchDomain(argc, argv, "enable a domain", "--turn-on-domain --domain-name=<domain>",
                        mailAuthEnableDomain, "enable auth records", HANDLER_ENABLE);
}

int disableDomain(int argc, char** argv) {
    return switchDomain(argc, argv, "disable a domain", "--turn-off-domain --domain-name=<domain>",
                        mailAuthDisableDomain, "disable auth records", HANDLER_DISABLE);
}

int setDomainDiskQuota(int argc, char** argv) {
    ProgramOptionsHelper helper(
        "set a domain disk quota",
        "--set-domain-disk-quota --domain-name=<domain> --disk-quota=quota");
    ProgramOptionsHelper::OptionAppender declare(helper);
    declare("domain-name", po::value<std::string>(), "domain name",
            true)("disk-quota", po::value<long>(), "disk quota", true);
    standardOptionsParse(helper, argc, argv);
    const korvo::mail::MaildirPPManager& quotas = korvo::mail::MaildirPPManager::getInstance();
    const std::string domain = domainOption(helper, "domain-name");
    quotas.setDomainQuota(domain, helper.variables["disk-quota"].as<long>());
    return 0;
}

int setBounce(int argc, char** argv) {
    ProgramOptionsHelper helper("set a domain bounce",
                                "--set-bounce --domain-name=<domain_name> [--phrase=<phrase>]");
    ProgramOptionsHelper::OptionAppender declare(helper);
    declare("domain-name", po::value<std::string>(), "domain name",
            true)("phrase", po::value<std::string>(), "phrase");
    standardOptionsParse(helper, argc, argv);
    const std::string phrase = hasOption(helper, "phrase") ? stringOption(helper, "phrase") : "";
    DomainManager::setBounce(domainOption(helper, "domain-name"), phrase);
    return 0;
}

int setCatchAll(int argc, char** argv) {
    ProgramOptionsHelper helper(
        "set a domain catchall address",
        "--set-catchall --domain-name=<domain_name> --email=<email_address>");
    ProgramOptionsHelper::OptionAppender declare(helper);
    declare("domain-name", po::value<std::string>(), "domain name",
            true)("email", po::value<std::string>(), "catchall e-mail address", true);
    standardOptionsParse(helper, argc, argv);
    const std::string domain = domainOption(helper, "domain-name");
    DomainManager::createCatchall(domain, addressOption(helper, "email"));
    return 0;
}

int setReject(int argc, char** argv) {
    return rejectUnknownMailnames(argc, argv, "set domain reject flag",
                                  "--set-reject --domain-name=<domain-name>");
}

int removeReject(int argc, char** argv) {
    return rejectUnknownMailnames(argc, argv, "remove domain reject flag",
                                  "--unset-reject --domain-name=<domain-name>");
}

void registerDomainCommands(CommandMapAssigner& assign) {
    assign("--add-domain", addDomain)("--remove-domain", removeDomain)(
        "--turn-on-domain", enableDomain)("--turn-off-domain", disableDomain)(
        "--set-domain-disk-quota", setDomainDiskQuota)("--set-bounce", setBounce)(
        "--set-catchall", setCatchAll)("--set-reject", setReject)("--unset-reject", removeReject);
}

} // namespace korvo::mail::postfix::vornctl_commands
