#include "front/MailOptions.h"

#include "front/CommandOptions.h"
#include "front/LibraryResult.h"
#include "front/NameChecks.h"
#include "mail/auth/MailAuth.h"
#include "utils/EnvPassword.h"

namespace po = boost::program_options;

namespace korvo::mail::postfix::vornctl_commands {

const char passwordHelpLines[] = PASSWORD_HELP_LINES;

namespace {

std::string optionName(const char* name) {
    return std::string("--") + name;
}

} // namespace

std::string domainOption(const ProgramOptionsHelper& helper, const char* name) {
    return asciiDomainName(stringOption(helper, name), optionName(name));
}

std::string addressOption(const ProgramOptionsHelper& helper, const char* name) {
    return asciiTargetAddress(stringOption(helper, name), optionName(name));
}

std::string mailNameOption(const ProgramOptionsHelper& helper, const char* name) {
    const std::string& mailname = stringOption(helper, name);
    checkMailName(mailname, optionName(name));
    return mailname;
}

std::string removalNameOption(const ProgramOptionsHelper& helper, const char* name) {
    const std::string& mailname = stringOption(helper, name);
    checkRemovalName(mailname, optionName(name));
    return mailname;
}

std::string parseDomainName(ProgramOptionsHelper& helper, int argc, char** argv) {
    ProgramOptionsHelper::OptionAppender declare(helper);
    declare("domain-name", po::value<std::string>(), "domain name", true);
    standardOptionsParse(helper, argc, argv);
    return domainOption(helper, "domain-name");
}

EnvPassword envPassword(const ProgramOptionsHelper& helper) {
    EnvPassword result;
    int crypted = 0;
    if (!failed(get_env_password(&result.password, &crypted)) && crypted != 0)
        result.flags |= Crypted;
    if (hasOption(helper, "mail-domain-disabled"))
        result.flags |= DomainDisabled;
    return result;
}

} // namespace korvo::mail::postfix::vornctl_commands
