#include "front/DomainCommands.h"

#include "front/CommandOptions.h"
#include "front/LibraryResult.h"
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
    if (failed(domain_auth_action(domain.c_str(), authAction, authText)))
        return 1;
    if (handlerAction == HANDLER_ENABLE)
        DomainManager::enableDomain(domain);
    else
        DomainManager::disableDomain(domain);
    mass_control_handler_by_mailname(domain.c_str(), nullptr, handlerAction);
    return 0;
}

int rejectUnknownMailnames(int argc, char** argv, const char* description,
                           const std::string& syntax) {
    ProgramOptionsHelper helper(description, syntax);
    DomainManager::removeCatchall(parseDomainName(helper, argc, argv));
    return 0;
}

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
    if (failed(switchedOff))
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
    if (failed(domain_auth_action(domain.c_str(), mailAuthRemoveDomain, "remove auth record")))
        return 1;
    DomainManager::removeDomain(domain, korvo::mail::Remove);
    if (failed(mass_control_handler_by_mailname(domain.c_str(), nullptr, HANDLER_REMOVE)))
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
    ProgramOptionsHelper helper("set a domain bounce", usageSyntax(setBounceCommand));
    ProgramOptionsHelper::OptionAppender declare(helper);
    declare("domain-name", po::value<std::string>(), "domain name",
            true)("phrase", po::value<std::string>(), "phrase");
    standardOptionsParse(helper, argc, argv);
    const std::string phrase = hasOption(helper, "phrase") ? stringOption(helper, "phrase") : "";
    DomainManager::setBounce(domainOption(helper, "domain-name"), phrase);
    return 0;
}

int setCatchAll(int argc, char** argv) {
    ProgramOptionsHelper helper("set a domain catchall address", usageSyntax(setCatchallCommand));
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
                                  usageSyntax(setRejectCommand));
}

int removeReject(int argc, char** argv) {
    return rejectUnknownMailnames(argc, argv, "remove domain reject flag",
                                  usageSyntax(unsetRejectCommand));
}

} // namespace

#define DOMAIN_SYNTAX "--domain-name=<domain_name>"

const CommandDescription addDomainCommand{
    "--add-domain", addDomain, DOMAIN_SYNTAX " [--disk-quota=<quota>]", "adds mail domain"};
const CommandDescription removeDomainCommand{"--remove-domain", removeDomain, DOMAIN_SYNTAX,
                                             "removes mail domain"};
const CommandDescription turnOnDomainCommand{"--turn-on-domain", enableDomain, DOMAIN_SYNTAX,
                                             "enables mail domain"};
const CommandDescription turnOffDomainCommand{"--turn-off-domain", disableDomain, DOMAIN_SYNTAX,
                                              "disables mail domain"};
const CommandDescription setDomainDiskQuotaCommand{
    "--set-domain-disk-quota", setDomainDiskQuota, DOMAIN_SYNTAX " --disk-quota=<quota>",
    "sets a disk space quota to a mail domain. Negative quota == Unlimited"};
const CommandDescription setBounceCommand{
    "--set-bounce", setBounce, DOMAIN_SYNTAX " [--phrase=<phrase>]",
    "letters sent to a nonexistent mailname, are bounced with this phrase"};
const CommandDescription setCatchallCommand{
    "--set-catchall", setCatchAll, DOMAIN_SYNTAX " --email=<email_address>",
    "letters sent to a nonexistent mailname, are forwarded to this email"};
const CommandDescription setRejectCommand{"--set-reject", setReject, "--domain-name=<domain-name>",
                                          "letters sent to a nonexistent mailname are rejected"};
const CommandDescription unsetRejectCommand{"--unset-reject", removeReject,
                                            "--domain-name=<domain-name>",
                                            "do not reject letters sent to a nonexistent mailname"};

} // namespace korvo::mail::postfix::vornctl_commands
