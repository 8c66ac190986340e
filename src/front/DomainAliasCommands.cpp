#include "front/DomainAliasCommands.h"

#include "front/CommandOptions.h"
#include "front/LibraryResult.h"
#include "front/MailOptions.h"
#include "front/NameChecks.h"
#include "mail/auth/MailAuthAliases.h"
#include "mail/handlers/MailHandlers.h"
#include "mail/handlers/MassHandlers.h"
#include "mail/panel/PanelQueries.h"
#include "mail/settings/DomainKeys.h"
#include "postfix/managers/DomainManager.h"
#include "postfix/tables/BatchDatabaseHelper.h"
#include "utils/ErrorStream.h"
#include "utils/Logging.h"

#include <boost/algorithm/string/classification.hpp>
#include <boost/algorithm/string/join.hpp>
#include <boost/algorithm/string/split.hpp>
#include <boost/filesystem/operations.hpp>
#include <stdexcept>
#include <string>
#include <vector>

namespace po = boost::program_options;

namespace korvo::mail::postfix::vornctl_commands {

namespace {

const char notexistingSyntax[] = " <--set-bounce 'text'| --set-catchall 'email' | --set-reject>";

// What a domain alias does with mail for mailnames it does not have, read
// from the command line with every name converted and checked.
struct NotexistingMailChoice {
    enum Action { Unchosen, Bounce, Catchall, Reject } action = Unchosen;
    std::string alias;
    std::string value; // the bounce phrase or the catch-all address
};

NotexistingMailChoice chooseNotexistingMail(const ProgramOptionsHelper& helper) {
    NotexistingMailChoice choice;
    if (hasOption(helper, "set-bounce")) {
        choice.action = NotexistingMailChoice::Bounce;
        if (hasOption(helper, "phrase"))
            choice.value = stringOption(helper, "phrase");
    } else if (hasOption(helper, "set-catchall")) {
        choice.action = NotexistingMailChoice::Catchall;
        if (stringOption(helper, "email").empty())
            throw MissingMandatoryOption("email");
        choice.value = addressOption(helper, "email");
    } else if (hasOption(helper, "set-reject")) {
        choice.action = NotexistingMailChoice::Reject;
    } else {
        return choice;
    }
    const bool declaresAlias = helper.options.find_nothrow("domain-alias-name", false) != nullptr;
    choice.alias =
        domainOption(helper, declaresAlias ? "domain-alias-name" : "new-domain-alias-name");
    return choice;
}

// A comma-separated list of domains, each converted and checked; runs of
// commas count as one. A list without any domain is refused.
std::string domainListOption(const ProgramOptionsHelper& helper, const char* name) {
    const std::string& given = stringOption(helper, name);
    std::vector<std::string> pieces;
    boost::algorithm::split(pieces, given, boost::algorithm::is_any_of(","));
    std::vector<std::string> domains;
    for (const std::string& piece : pieces)
        if (!piece.empty())
            domains.push_back(asciiDomainName(piece, std::string("--") + name));
    if (domains.empty())
        throw std::invalid_argument(given);
    return boost::algorithm::join(domains, ",");
}

// Declares the switches set-catchall, set-bounce and set-reject with the
// values email and phrase, none of them mandatory.
void formNotexistingMailOptions(ProgramOptionsHelper& helper) {
    ProgramOptionsHelper::OptionAppender declare(helper);
    declare("set-catchall", "set a domain catchall address")("email", po::value<std::string>(),
                                                             "catchall e-mail address")(
        "set-bounce", "set a domain bounce")("phrase", po::value<std::string>(),
                                             "phrase")("set-reject", "set domain reject flag");
}

// Applies the choice to its alias. Returns 0, or 1 after a log line when
// none was made.
int applyNotexistingMail(const NotexistingMailChoice& choice) {
    // Each change goes into its table at once.
    BatchDatabaseHelper batch(INCREMENTAL, IMMEDIATE);
    switch (choice.action) {
    case NotexistingMailChoice::Bounce:
        DomainManager::setBounceFor(batch, {choice.alias}, choice.value);
        return 0;
    case NotexistingMailChoice::Catchall:
        DomainManager::createCatchallFor(batch, {choice.alias}, choice.value);
        return 0;
    case NotexistingMailChoice::Reject:
        // Without a catch-all record Postfix rejects such mail; a renamed
        // alias brought its old one along.
        DomainManager::removeCatchallFor(batch, {choice.alias});
        return 0;
    case NotexistingMailChoice::Unchosen:
        break;
    }
    korvo_log(LOG_LEVEL_ERROR, "Action for notexisting mail names is not specified "
                               "(--set-bounce/--set-catchall/--set-reject)");
    return 1;
}

int addDomainAlias(int argc, char** argv) {
    ProgramOptionsHelper helper("add a domain alias",
                                usageSyntax(addDomainAliasCommand) + notexistingSyntax);
    ProgramOptionsHelper::OptionAppender declare(helper);
    declare("domain-name", po::value<std::string>(), "domain name",
            true)("domain-alias-name", po::value<std::string>(), "domain alias name", true);
    formNotexistingMailOptions(helper);
    standardOptionsParse(helper, argc, argv);
    const std::string domain = domainOption(helper, "domain-name");
    const std::string alias = domainOption(helper, "domain-alias-name");
    // A bad catch-all address is refused before the alias is touched; the
    // choice is applied last, once the alias exists under its name.
    const NotexistingMailChoice choice = chooseNotexistingMail(helper);

    // The mailnames and their aliases are read once, on one connection, for
    // both the tables and the authentication database.
    korvo::mail::MailnameAliasList mailnames;
    const bool mailnamesRead = get_mailnames_with_aliases(nullptr, mailnames, domain.c_str()) == 0;
    BatchDatabaseHelper aliasRecords(INCREMENTAL, IMMEDIATE);
    DomainManager::createDomainAlias(aliasRecords, domain, alias, mailnames);
    if (failed(mass_control_handler_by_mailname(domain.c_str(), alias.c_str(), HANDLER_COPY)))
        korvo::uerr << "WARNING: unable to clone all mail handlers for " << alias << std::endl;
    if (failed(clone_domain_key(domain.c_str(), alias.c_str())))
        korvo::uerr << "WARNING: cannot clone domain key for " << alias << std::endl;
    // After a failed read the authentication step reads again and reports.
    const int cloned = mailnamesRead
                           ? add_domain_auth_alias(domain.c_str(), alias.c_str(), mailnames)
                           : add_domain_auth_alias(domain.c_str(), alias.c_str());
    if (failed(cloned))
        return 1;
    return applyNotexistingMail(choice);
}

int removeDomainAlias(int argc, char** argv) {
    ProgramOptionsHelper helper("remove a domain alias", usageSyntax(delDomainAliasCommand));
    ProgramOptionsHelper::OptionAppender declare(helper);
    // The alias alone names what goes; domain-name is required but not read.
    declare("domain-name", po::value<std::string>(), "domain name",
            true)("domain-alias-name", po::value<std::string>(), "domain alias name", true);
    standardOptionsParse(helper, argc, argv);
    const std::string alias = domainOption(helper, "domain-alias-name");

    DomainManager::removeDomainAlias(alias);
    if (failed(mass_control_handler_by_mailname(alias.c_str(), nullptr, HANDLER_REMOVE)))
        korvo::uerr << "WARNING: unable to properly remove mail handlers for " << alias
                    << std::endl;
    remove_domain_key(alias.c_str());
    return statusOf(rm_domain_auth_alias(alias.c_str()));
}

int renameDomainAlias(int argc, char** argv) {
    ProgramOptionsHelper helper("rename a given domain alias",
                                usageSyntax(renameDomainAliasCommand) + notexistingSyntax);
    ProgramOptionsHelper::OptionAppender declare(helper);
    declare("domain-name", po::value<std::string>(), "domain name",
            true)("old-domain-alias-name", po::value<std::string>(), "old domain alias name", true)(
        "new-domain-alias-name", po::value<std::string>(), "new domain alias name", true);
    formNotexistingMailOptions(helper);
    standardOptionsParse(helper, argc, argv);
    const std::string domain = domainOption(helper, "domain-name");
    const std::string oldAlias = domainOption(helper, "old-domain-alias-name");
    const std::string newAlias = domainOption(helper, "new-domain-alias-name");
    const NotexistingMailChoice choice = chooseNotexistingMail(helper);

    DomainManager::renameDomainAlias(oldAlias, newAlias);
    if (failed(mass_control_handler_by_mailname(oldAlias.c_str(), newAlias.c_str(), HANDLER_MOVE)))
        korvo::uerr << "WARNING: unable to properly re-assign mail handlers from " << oldAlias
                    << " to " << newAlias << std::endl;
    if (failed(clone_domain_key(oldAlias.c_str(), newAlias.c_str())))
        korvo::uerr << "WARNING: cannot create domainkey for " << newAlias << '\n';
    remove_domain_key(oldAlias.c_str());
    if (failed(add_domain_auth_alias(domain.c_str(), newAlias.c_str())))
        return 1;
    if (failed(rm_domain_auth_alias(oldAlias.c_str())))
        return 1;
    return applyNotexistingMail(choice);
}

int setDomainKey(int argc, char** argv) {
    ProgramOptionsHelper helper(
        "set DomainKey",
        "--set-domain-key --domain-name=<domain,domain,... > --file-name=<full_file_name>");
    ProgramOptionsHelper::OptionAppender declare(helper);
    declare("domain-name", po::value<std::string>(), "domain name",
            true)("file-name", po::value<std::string>(), "full path to uploaded key", true);
    standardOptionsParse(helper, argc, argv);
    const std::string domains = domainListOption(helper, "domain-name");
    const std::string& keyFile = stringOption(helper, "file-name");
    checkSingleLine(keyFile, "--file-name");

    const int result = set_domain_key(domains.c_str(), keyFile.c_str());
    if (failed(result))
        return 1;
    if (result == 0) {
        // The uploaded copy is no longer needed once the key is installed.
        boost::system::error_code ignored;
        boost::filesystem::remove(keyFile, ignored);
    }
    return 0;
}

int removeDomainKey(int argc, char** argv) {
    ProgramOptionsHelper helper("remove DomainKey",
                                "--remove-domain-key --domain-name=<domain,domain,...>");
    ProgramOptionsHelper::OptionAppender declare(helper);
    declare("domain-name", po::value<std::string>(), "domain name", true);
    standardOptionsParse(helper, argc, argv);
    const std::string domains = domainListOption(helper, "domain-name");
    return statusOf(remove_domain_key(domains.c_str()));
}

} // namespace

const CommandDescription addDomainAliasCommand{
    "--add-domain-alias", addDomainAlias,
    "--domain-name=<domain_name> --domain-alias-name=<domain_alias_name>",
    "adds alias for <domain_name>"};
const CommandDescription delDomainAliasCommand{
    "--del-domain-alias", removeDomainAlias,
    "--domain-name=<domain_name> --domain-alias-name=<domain_alias_name>",
    "removes alias for <domain_name>"};
const CommandDescription renameDomainAliasCommand{
    "--rename-domain-alias", renameDomainAlias,
    "--domain-name=<domain_name> --old-domain-alias-name=<old_domain_alias_name> "
    "--new-domain-alias-name=<new_domain_alias_name>",
    "renames alias for <domain_name>"};
const CommandDescription setDomainKeyCommand{
    "--set-domain-key", setDomainKey, "--domain-name=<domain_name> --file-name=<full_file_name>",
    "sets DomainKey for <domain_name>"};
const CommandDescription removeDomainKeyCommand{"--remove-domain-key", removeDomainKey,
                                                "--domain-name=<domain_name>",
                                                "removes DomainKey for <domain_name>"};

} // namespace korvo::mail::postfix::vornctl_commands
