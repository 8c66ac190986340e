#include "front/MailnameCommands.h"

#include "front/CommandOptions.h"
#include "front/LibraryResult.h"
#include "front/MailOptions.h"
#include "front/ProgramOptionsHelper.h"
#include "mail/auth/MailAuth.h"
#include "mail/auth/MailAuthAliases.h"
#include "mail/handlers/MailHandlers.h"
#include "mail/handlers/MassHandlers.h"
#include "mail/panel/PanelQueries.h"
#include "mail/settings/Autoresponder.h"
#include "mail/storage/MailboxSize.h"
#include "mail/storage/MaildirPPManager.h"
#include "postfix/managers/MailnameManager.h"
#include "utils/ErrorStream.h"
#include "utils/MallocOwners.h"

#include <iostream>
#include <string>
#include <utility>
#include <vector>

namespace po = boost::program_options;

namespace korvo::mail::postfix::vornctl_commands {

namespace {

using korvo::StringListOwner;

const char disabledSwitch[] = "mail-domain-disabled,D";
const char disabledHelp[] = "the domain is disabled (currently unused)";

// The domain and mailname of a command, converted and checked.
struct Mailbox {
    std::string domain;
    std::string mailname;

    std::string address() const { return at(mailname); }
    std::string at(const std::string& name) const { return name + "@" + domain; }
};

// Declares domain-name and mailname, both mandatory; the caller goes on
// declaring the command's further options.
ProgramOptionsHelper::OptionAppender declareMailbox(ProgramOptionsHelper& helper) {
    ProgramOptionsHelper::OptionAppender declare(helper);
    declare("domain-name", po::value<std::string>(), "domain name",
            true)("mailname", po::value<std::string>(), "mailname", true);
    return declare;
}

// The domain first, then the mailname, each refused before anything else.
Mailbox mailboxOption(const ProgramOptionsHelper& helper) {
    std::string domain = domainOption(helper, "domain-name");
    return Mailbox{std::move(domain), mailNameOption(helper, "mailname")};
}

// A command with no options beyond domain-name and mailname.
Mailbox parseMailbox(ProgramOptionsHelper& helper, int argc, char** argv) {
    declareMailbox(helper);
    standardOptionsParse(helper, argc, argv);
    return mailboxOption(helper);
}

// The mailbox a removal names: its mailname need only be a safe path
// component, so that one made under older rules can still go.
Mailbox parseMailboxToRemove(ProgramOptionsHelper& helper, int argc, char** argv) {
    declareMailbox(helper);
    standardOptionsParse(helper, argc, argv);
    std::string domain = domainOption(helper, "domain-name");
    return Mailbox{std::move(domain), removalNameOption(helper, "mailname")};
}

Mailbox parseWithAlias(ProgramOptionsHelper& helper, int argc, char** argv, std::string& alias) {
    declareMailbox(helper)("alias", po::value<std::string>(), "alias email", true);
    standardOptionsParse(helper, argc, argv);
    Mailbox mailbox = mailboxOption(helper);
    alias = mailNameOption(helper, "alias");
    return mailbox;
}

const char disabledSyntax[] = " [--mail-domain-disabled|-D]";

// --add-mailbox and --set-password: the mailbox, and the switch of a
// disabled domain; the password waits in the environment.
std::string passwordSyntax(const CommandDescription& row) {
    return usageSyntax(row) + disabledSyntax + passwordHelpLines;
}

void parseWithPassword(ProgramOptionsHelper& helper, int argc, char** argv) {
    declareMailbox(helper)(disabledSwitch, disabledHelp);
    standardOptionsParse(helper, argc, argv);
}

// Removes the handlers of the other addresses of a removed mailbox with one
// pass over the registry; each failure is reported and the removal goes on.
void removeHandlersOf(const std::vector<std::string>& addresses) {
    for (const std::string& address : mass_remove_handlers_of(addresses))
        korvo::uerr << "ERROR: unable to remove mail handler for " << address << std::endl;
}

// The domain's aliases; none after the error line when they cannot be read.
std::optional<std::vector<std::string>> listDomainAliases(const std::string& domain) {
    std::optional<std::vector<std::string>> aliases = korvo::mail::domainAliasesOf(domain);
    if (!aliases)
        korvo::uerr << "ERROR: unable get domain aliases for domain " << domain << std::endl;
    return aliases;
}

using ForwardChange = void (*)(const std::string& domain, const std::string& mailname,
                               const std::string& address);

int changeRedirect(int argc, char** argv, const char* description, const CommandDescription& row,
                   ForwardChange change) {
    ProgramOptionsHelper helper(description, usageSyntax(row));
    declareMailbox(helper)("redirect-email", po::value<std::string>(), "redirect email", true);
    standardOptionsParse(helper, argc, argv);
    const Mailbox mailbox = mailboxOption(helper);
    change(mailbox.domain, mailbox.mailname, addressOption(helper, "redirect-email"));
    return 0;
}

int setAutoresponder(int argc, char** argv, const char* description, const CommandDescription& row,
                     int action) {
    ProgramOptionsHelper helper(description, usageSyntax(row));
    const Mailbox mailbox = parseMailbox(helper, argc, argv);
    return autoresponder_action(mailbox.mailname.c_str(), mailbox.domain.c_str(), action);
}

int addMailname(int argc, char** argv) {
    ProgramOptionsHelper helper("add a mailname", usageSyntax(addMailnameCommand));
    declareMailbox(helper)("disk-quota", po::value<long>(), "disk quota");
    standardOptionsParse(helper, argc, argv);
    const Mailbox mailbox = mailboxOption(helper);
    if (hasOption(helper, "disk-quota"))
        MailnameManager::createMailname(mailbox.domain, mailbox.mailname,
                                        helper.variables["disk-quota"].as<long>());
    else
        MailnameManager::createMailname(mailbox.domain, mailbox.mailname);
    return 0;
}

int removeMailname(int argc, char** argv) {
    ProgramOptionsHelper helper("remove a mailname", usageSyntax(removeMailnameCommand));
    const Mailbox mailbox = parseMailboxToRemove(helper, argc, argv);
    if (failed(rm_mails_from_domains(mailbox.mailname.c_str(), mailbox.domain.c_str())))
        return 1;
    MailnameManager::removeMailname(mailbox.domain, mailbox.mailname, korvo::mail::Remove);
    const std::string address = mailbox.address();
    if (failed(mass_control_handler_by_mailname(address.c_str(), nullptr, HANDLER_REMOVE)))
        korvo::uerr << "WARNING: unable to remove some of mail handlers for " << address
                    << std::endl;

    const std::optional<std::vector<std::string>> domainAliases = listDomainAliases(mailbox.domain);
    if (!domainAliases)
        return 1;
    StringListOwner mailAliases;
    if (failed(get_aliases_by_mailname(nullptr, mailAliases.out(), mailbox.mailname.c_str(),
                                       mailbox.domain.c_str()))) {
        korvo::uerr << "ERROR: unable get mail aliases for mailname " << address << std::endl;
        return 1;
    }
    std::vector<std::string> others;
    for (const std::string& domainAlias : *domainAliases)
        others.push_back(mailbox.mailname + "@" + domainAlias);
    for (const char* mailAlias : mailAliases)
        others.push_back(mailbox.at(mailAlias));
    for (const char* mailAlias : mailAliases)
        for (const std::string& domainAlias : *domainAliases)
            others.push_back(mailAlias + ("@" + domainAlias));
    removeHandlersOf(others);
    return 0;
}

int renameMailname(int argc, char** argv) {
    ProgramOptionsHelper helper("rename a mailname",
                                usageSyntax(renameMailnameCommand) + disabledSyntax);
    ProgramOptionsHelper::OptionAppender declare(helper);
    declare("domain-name", po::value<std::string>(), "domain name",
            true)("old-mailname", po::value<std::string>(), "old mailname",
                  true)("new-mailname", po::value<std::string>(), "new mailname",
                        true)(disabledSwitch, disabledHelp);
    standardOptionsParse(helper, argc, argv);
    const std::string domain = domainOption(helper, "domain-name");
    const std::string oldName = mailNameOption(helper, "old-mailname");
    const std::string newName = mailNameOption(helper, "new-mailname");

    if (!envPassword(helper).given()) {
        MailnameManager::renameMailname(domain, oldName, newName);
        // No password: the old name only leaves the authentication database.
        if (failed(rm_mname_from_domains(oldName.c_str(), domain.c_str())))
            return 1;
    } else {
        // The address moves on the domain and on every alias in one pass
        // over each table; a failed alias lookup leaves everything as it was.
        const std::optional<std::vector<std::string>> aliases = listDomainAliases(domain);
        if (!aliases)
            return 1;
        MailnameManager::renameMailname(domain, oldName, newName, *aliases);
        const int renamed = mailAuthRename(oldName.c_str(), newName.c_str(), domain.c_str());
        if (failed(mailAuthRenameIn(oldName.c_str(), newName.c_str(), *aliases)) || failed(renamed))
            return 1;
    }
    const std::string from = oldName + "@" + domain;
    const std::string to = newName + "@" + domain;
    if (failed(mass_control_handler_by_mailname(from.c_str(), to.c_str(), HANDLER_MOVE)))
        korvo::uerr << "WARNING: unable to re-assign some of mail handlers from " << from << " to "
                    << to << std::endl;
    return 0;
}

int addMailbox(int argc, char** argv) {
    ProgramOptionsHelper helper("add mailname's mailbox", passwordSyntax(addMailboxCommand));
    parseWithPassword(helper, argc, argv);
    const Mailbox mailbox = mailboxOption(helper);
    MailnameManager::enableDelivery(mailbox.domain, mailbox.mailname);
    const EnvPassword password = envPassword(helper);
    return statusOf(set_passwd_for_domains(mailbox.mailname.c_str(), mailbox.domain.c_str(),
                                           password.password, password.flags));
}

int removeMailbox(int argc, char** argv) {
    ProgramOptionsHelper helper("remove mailname's mailbox", usageSyntax(removeMailboxCommand));
    const Mailbox mailbox = parseMailbox(helper, argc, argv);
    MailnameManager::disableDelivery(mailbox.domain, mailbox.mailname);
    return statusOf(rm_mails_from_domains(mailbox.mailname.c_str(), mailbox.domain.c_str()));
}

int getMailboxSize(int argc, char** argv) {
    ProgramOptionsHelper helper("get mailbox size", usageSyntax(getMailboxSizeCommand));
    ProgramOptionsHelper::OptionAppender declare(helper);
    declare("in-blocks", "count result in blocks rather than bytes");
    const Mailbox mailbox = parseMailbox(helper, argc, argv);
    const long long size = get_mbox_size(mailbox.mailname.c_str(), mailbox.domain.c_str(),
                                         hasOption(helper, "in-blocks") ? 1 : 0);
    if (size < 0)
        return 1;
    std::cout << size << std::flush;
    return 0;
}

int setPassword(int argc, char** argv) {
    ProgramOptionsHelper helper("set mailname's password", passwordSyntax(setPasswordCommand));
    parseWithPassword(helper, argc, argv);
    const EnvPassword password = envPassword(helper);
    const Mailbox mailbox = mailboxOption(helper);
    // Without a password the mailbox's users leave the database.
    return statusOf(set_mass_postbox_passwd(mailbox.mailname.c_str(), mailbox.domain.c_str(),
                                            password.password, password.flags));
}

int setMailboxDiskQuota(int argc, char** argv) {
    ProgramOptionsHelper helper("set mailbox disk quota", usageSyntax(setMailboxDiskQuotaCommand));
    declareMailbox(helper)("disk-quota", po::value<long>(), "disk quota", true);
    standardOptionsParse(helper, argc, argv);
    const korvo::mail::MaildirPPManager& quotas = korvo::mail::MaildirPPManager::getInstance();
    const Mailbox mailbox = mailboxOption(helper);
    quotas.setMailboxQuota(mailbox.domain, mailbox.mailname,
                           helper.variables["disk-quota"].as<long>());
    return 0;
}

int addRedirect(int argc, char** argv) {
    return changeRedirect(argc, argv, "add a redirect", addRedirectCommand,
                          MailnameManager::addForward);
}

int removeRedirect(int argc, char** argv) {
    return changeRedirect(argc, argv, "remove a given redirect", removeRedirectCommand,
                          MailnameManager::removeForward);
}

int addAlias(int argc, char** argv) {
    ProgramOptionsHelper helper("add alias for a given mailname", usageSyntax(addAliasCommand));
    std::string alias;
    const Mailbox mailbox = parseWithAlias(helper, argc, argv, alias);
    MailnameManager::createMailAlias(mailbox.domain, mailbox.mailname, alias);
    const std::string aliasAddress = mailbox.at(alias);
    if (failed(mass_control_handler_by_mailname(mailbox.address().c_str(), aliasAddress.c_str(),
                                                HANDLER_COPY)))
        korvo::uerr << "WARNING: unable to set all mail handlers for " << aliasAddress << std::endl;
    const std::optional<std::vector<std::string>> domainAliases =
        korvo::mail::domainAliasesOf(mailbox.domain);
    if (!domainAliases)
        return 1;
    const char* const domain = mailbox.domain.c_str();
    if (failed(mailAuthClone(mailbox.mailname.c_str(), domain, alias.c_str(), domain)))
        return 1;
    return statusOf(mailAuthCloneTo(alias.c_str(), domain, *domainAliases));
}

int removeAlias(int argc, char** argv) {
    ProgramOptionsHelper helper("remove alias for a given mailname",
                                usageSyntax(removeAliasCommand));
    std::string alias;
    const Mailbox mailbox = parseWithAlias(helper, argc, argv, alias);
    MailnameManager::removeMailAlias(mailbox.domain, mailbox.mailname, alias);
    const std::string aliasAddress = mailbox.at(alias);
    if (failed(mass_control_handler_by_mailname(aliasAddress.c_str(), nullptr, HANDLER_REMOVE)))
        korvo::uerr << "WARNING: unable to properly remove all mail handlers for " << aliasAddress
                    << std::endl;
    return statusOf(rm_mname_from_domains(alias.c_str(), mailbox.domain.c_str()));
}

int addAutoresponder(int argc, char** argv) {
    return setAutoresponder(argc, argv, "add autoresponder for a given mailname",
                            setAutoresponderCommand, AUTORESPONDER_ADD);
}

int removeAutoresponder(int argc, char** argv) {
    return setAutoresponder(argc, argv, "remove autoresponder for a given mailname",
                            resetAutoresponderCommand, AUTORESPONDER_REMOVE);
}

} // namespace

#define MAILBOX_SYNTAX "--domain-name=<domain_name> --mailname=<mail_name>"

const CommandDescription addMailnameCommand{
    "--add-mailname", addMailname, MAILBOX_SYNTAX " [--disk-quota=<quota>]",
    "adds mailname to the mail domain. Optionally sets the mailbox quota"};
const CommandDescription removeMailnameCommand{"--remove-mailname", removeMailname, MAILBOX_SYNTAX,
                                               "removes mailname to the mail domain"};
const CommandDescription renameMailnameCommand{
    "--rename-mailname", renameMailname,
    "--domain-name=<domain_name> --old-mailname=<old_mail_name> --new-mailname=<new_mail_name>",
    "renames a mailname in the mail domain. Optionally sets the mailbox "
    "password." PASSWORD_HELP_LINES};
const CommandDescription addMailboxCommand{
    "--add-mailbox", addMailbox, MAILBOX_SYNTAX,
    "adds a mailbox for a given mailname." PASSWORD_HELP_LINES};
const CommandDescription removeMailboxCommand{"--remove-mailbox", removeMailbox, MAILBOX_SYNTAX,
                                              "removes a mailbox for a given mailname."};
const CommandDescription getMailboxSizeCommand{"--get-mailbox-size", getMailboxSize,
                                               "[--in-blocks] " MAILBOX_SYNTAX,
                                               "returns the size of mailbox for a mailname."};
const CommandDescription setPasswordCommand{"--set-password", setPassword, MAILBOX_SYNTAX,
                                            "sets the password for a mailname" PASSWORD_HELP_LINES};
const CommandDescription setMailboxDiskQuotaCommand{
    "--set-mailbox-disk-quota", setMailboxDiskQuota, MAILBOX_SYNTAX " --disk-quota=<quota>",
    "sets the disk quota for a mailbox. Negative quota == Unlimited"};
const CommandDescription addRedirectCommand{"--add-redirect", addRedirect,
                                            MAILBOX_SYNTAX " --redirect-email=<email>",
                                            "adds mail redirect from the mailname"};
const CommandDescription removeRedirectCommand{"--remove-redirect", removeRedirect,
                                               MAILBOX_SYNTAX " --redirect-email=<email>",
                                               "removes mail redirect from the mailname"};
const CommandDescription setAutoresponderCommand{
    "--set-autoresponder", addAutoresponder, MAILBOX_SYNTAX, "enables autoresponder for mailname"};
const CommandDescription resetAutoresponderCommand{"--reset-autoresponder", removeAutoresponder,
                                                   MAILBOX_SYNTAX,
                                                   "disables autoresponder for mailname"};
const CommandDescription addAliasCommand{
    "--add-alias", addAlias, MAILBOX_SYNTAX " --alias=<email_alias>", "adds an alias for mailname"};
const CommandDescription removeAliasCommand{"--remove-alias", removeAlias,
                                            MAILBOX_SYNTAX " --alias=<email_alias>",
                                            "removes an alias for mailname"};

} // namespace korvo::mail::postfix::vornctl_commands
