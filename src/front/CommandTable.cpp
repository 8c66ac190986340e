#include "front/CommandTable.h"

#include "front/AttachmentCommands.h"
#include "front/DomainAliasCommands.h"
#include "front/DomainCommands.h"
#include "front/HandlerCommands.h"
#include "front/MailOptions.h"
#include "front/MailnameCommands.h"
#include "front/ServiceCommands.h"
#include "front/SettingsCommands.h"
#include "front/Usage.h"

namespace korvo::mail::postfix::vornctl_commands {

namespace {

#define HANDLER_SYNTAX_KIND                                                                        \
    "--handler-type=(global|sender|recipient|sender-domain|recipient-domain)"
#define HANDLER_HOOK "--hook=(before-queue|before-local|before-remote)"
#define HANDLER_SELECT_SYNTAX                                                                      \
    "--handler-name=<name> " HANDLER_SYNTAX_KIND " --handler-type-name=<name> " HANDLER_HOOK
#define SERVICE_SYNTAX                                                                             \
    "[--mail-component={mta|smtp|smtps|submission|pop3|imap|pop3s|imaps|all}] "                    \
    "[--mail-component=...]"
#define DM "--domain-name=<domain_name> --mailname=<mail_name>"

} // namespace

const CommandDescription commandDescriptions[] = {
    {"--add-mailname", "--domain-name=<domain_name> --mailname=<mail_name> [--disk-quota=<quota>]",
     "adds mailname to the mail domain. Optionally sets the mailbox quota"},
    {"--remove-mailname", DM, "removes mailname to the mail domain"},
    {"--rename-mailname",
     "--domain-name=<domain_name> --old-mailname=<old_mail_name> --new-mailname=<new_mail_name>",
     "renames a mailname in the mail domain. Optionally sets the mailbox "
     "password." PASSWORD_HELP_LINES},
    {"--add-mailbox", DM, "adds a mailbox for a given mailname." PASSWORD_HELP_LINES},
    {"--remove-mailbox", DM, "removes a mailbox for a given mailname."},
    {"--get-mailbox-size", "[--in-blocks] " DM, "returns the size of mailbox for a mailname."},
    {"--set-password", DM, "sets the password for a mailname" PASSWORD_HELP_LINES},
    {"--set-mailbox-disk-quota", DM " --disk-quota=<quota>",
     "sets the disk quota for a mailbox. Negative quota == Unlimited"},
    {"--add-redirect", DM " --redirect-email=<email>", "adds mail redirect from the mailname"},
    {"--remove-redirect", DM " --redirect-email=<email>",
     "removes mail redirect from the mailname"},
    {"--set-autoresponder", DM, "enables autoresponder for mailname"},
    {"--reset-autoresponder", DM, "disables autoresponder for mailname"},
    {"--add-alias", DM " --alias=<email_alias>", "adds an alias for mailname"},
    {"--remove-alias", DM " --alias=<email_alias>", "removes an alias for mailname"},
    {"--add-domain", "--domain-name=<domain_name> [--disk-quota=<quota>]", "adds mail domain"},
    {"--remove-domain", "--domain-name=<domain_name>", "removes mail domain"},
    {"--turn-on-domain", "--domain-name=<domain_name>", "enables mail domain"},
    {"--turn-off-domain", "--domain-name=<domain_name>", "disables mail domain"},
    {"--set-domain-disk-quota", "--domain-name=<domain_name> --disk-quota=<quota>",
     "sets a disk space quota to a mail domain. Negative quota == Unlimited"},
    {"--add-badmailfrom", "--domain-name=<domain_name>", "adds mail domain to the blacklist"},
    {"--remove-badmailfrom", "--domain-name=<domain_name>",
     "removes mail domain from the blacklist"},
    {"--set-bounce", "--domain-name=<domain_name> [--phrase=<phrase>]",
     "letters sent to a nonexistent mailname, are bounced with this phrase"},
    {"--set-catchall", "--domain-name=<domain_name> --email=<email_address>",
     "letters sent to a nonexistent mailname, are forwarded to this email"},
    {"--set-reject", "--domain-name=<domain-name>",
     "letters sent to a nonexistent mailname are rejected"},
    {"--unset-reject", "--domain-name=<domain-name>",
     "do not reject letters sent to a nonexistent mailname"},
    {"--add-whitelist", "--ip-address=<ip_address> --netmask=<netmask>",
     "adds the subnet to the white-list"},
    {"--remove-whitelist", "--ip-address=<ip_address> --netmask=<netmask>",
     "removes the subnet from the white-list"},
    {"--set-maps-protection", "[--maps-zones=<zone1,zone2,...,zoneN>]",
     "installs MAPS protection. Absent list of zones == disabled"},
    {"--set-accounts-format", "--account-format=(\"compound\" | \"both\")",
     "sets the POP3/IMAP accounts format"},
    {"--features", "",
     "returns PHP code which reflects state of several features support in vornctl."
     "\n        Currently they are auth-type and format"},
    {"--set-max-letter-size", "--size=<size_in_bytes>", "sets maximum letter size"},
    {"--get-max-letter-size", "", "gets maximum letter size"},
    {"--get-mailbox-size-limit", "", "gets size limit of mailbox"},
    {"--list-attachments",
     "[--in-blocks] [--fullname] --domain-name=<domain_name> (--mailname=<mail_name>|--mail-all)",
     "lists attachments for <mail_name>"},
    {"--add-attachment",
     DM " --file-name=<full_file_name> --attachment-file-name=<attachment_file_name>",
     "adds attachment for <mail_name>"},
    {"--remove-attachment", DM " --attachment-file-name=<attachment_file_name>",
     "remove attachment from <mail_name>"},
    {"--update-spf",
     "[--spf-behavior=spf_behavior] [--spf-rules=spf_rules] [--spf-guess=spf_guess] "
     "[--spf-exp=<spf_exp>]",
     "updates SPF support configuration files"},
    {"--add-domain-alias", "--domain-name=<domain_name> --domain-alias-name=<domain_alias_name>",
     "adds alias for <domain_name>"},
    {"--del-domain-alias", "--domain-name=<domain_name> --domain-alias-name=<domain_alias_name>",
     "removes alias for <domain_name>"},
    {"--rename-domain-alias",
     "--domain-name=<domain_name> --old-domain-alias-name=<old_domain_alias_name> "
     "--new-domain-alias-name=<new_domain_alias_name>",
     "renames alias for <domain_name>"},
    {"--add-handler",
     "--handler-name=<name> " HANDLER_SYNTAX_KIND
     " --handler-type-name=<name> --executable=<handler> --context=<context> " HANDLER_HOOK
     " --priority=<number>",
     "adds a mail-handler"},
    {"--update-handler",
     "--handler-name=<name> " HANDLER_SYNTAX_KIND
     " --executable=<handler> --context=<context> " HANDLER_HOOK " --priority=<number>",
     "updates a given mail-handler"},
    {"--remove-handler", HANDLER_SELECT_SYNTAX, "removes a given mail-handler"},
    {"--disable-handler", HANDLER_SELECT_SYNTAX, "disables a given mail-handler"},
    {"--enable-handler", HANDLER_SELECT_SYNTAX, "enables a given mail-handler"},
    {"--check-handler", HANDLER_SELECT_SYNTAX, "checks if a given mail-handler exists"},
    {"--set-domain-key", "--domain-name=<domain_name> --file-name=<full_file_name>",
     "sets DomainKey for <domain_name>"},
    {"--remove-domain-key", "--domain-name=<domain_name>", "removes DomainKey for <domain_name>"},
    {"--set-mail-params",
     "[--relayclient] [--smtpauth] [--popauth] [--poplock-time=<time_in_seconds>] [--shortnames]",
     "sets relaying & mailnames parameters"},
    {"--start-service", SERVICE_SYNTAX,
     "starts entire mail service or one or more of its components"},
    {"--stop-service", SERVICE_SYNTAX, "stops entire mail service or its components"},
    {"--restart-service", SERVICE_SYNTAX,
     "restarts entire mail service or one or more of its components"},
    {"--reload-service", SERVICE_SYNTAX,
     "reloads configuration for all or selected mail components"},
    {"--status-service", SERVICE_SYNTAX,
     "returns status of entire mail service or its subcomponents"},
    {"-p, --start-smtpd", "",
     "starts SMTP server (obsoleted, use --start-service --mail-component=smtp "
     "--mail-component=smtps)"},
    {"-o, --stop-smtpd", "",
     "stops SMTP server (obsoleted, use --stop-service --mail-component=smtp "
     "--mail-component=smtps)"},
    {"-r, --restart-smtpd", "",
     "restarts SMTP server (obsoleted, use --restart-service --mail-component=smtp "
     "--mail-component=smtps)"},
    {"-s, --status-smtpd", "",
     "SMTP server status (obsoleted, use --status-service --mail-component=smtp "
     "--mail-component=smtps)"},
    {"-l, --start-qmail-send", "",
     "starts qmail (without xinetd), (obsoleted, use --start-service --mail-component=mta)"},
    {"-m, --stop-qmail-send", "",
     "stops qmail(without xinetd), (obsoleted, use --stop-service --mail-component=mta)"},
    {"-i, --start-maild", "",
     "starts courier-imap (obsoleted, use --start-service --mail-component=imap "
     "--mail-component=pop3 --mail-component=imaps --mail-component=pop3s)"},
    {"-t, --stop-maild", "",
     "stops courier-imap (obsoleted, use --stop-service --mail-component=imap "
     "--mail-component=pop3 --mail-component=imaps --mail-component=pop3s)"},
    {"-z, --restart-maild", "",
     "restarts courier-imap (obsoleted, use --restart-service --mail-component=imap "
     "--mail-component=pop3 --mail-component=imaps --mail-component=pop3s)"},
    {"-e, --status-maild", "",
     "returns courier-imap status (obsoleted, use --status-service --mail-component=imap "
     "--mail-component=pop3 --mail-component=imaps --mail-component=pop3s)"},
    {"-a, --enable-message-submission", "",
     "enables message submission (obsoleted, use --start-service --mail-component=submission"},
    {"-b, --disable-message-submission", "",
     "disables message submission (obsoleted, use --stop-service --mail-component=submission)"},
    {"--help-commands", "", "displays vornctl commands list and exit"},
    {"--help-legacy", "", "displays legacy vornctl help and exit"},
    {"-h, --help", "", "displays vornctl usage summary and exit"},
};

const std::size_t commandDescriptionCount =
    sizeof commandDescriptions / sizeof *commandDescriptions;

namespace {

int usageShortCmd(int, char**) {
    usageShort(0, std::cout);
}
int usageCommandsCmd(int, char**) {
    usageCommands(0, std::cout);
}
int usageLegacyCmd(int, char**) {
    usageLegacy(0, std::cout);
}

} // namespace

// Each command family registers its own words, so that families never
// share a line of this table.
CommandMap buildCommandTable() {
    CommandMap commands;
    CommandMapAssigner assign(commands);
    assign("--help-commands", usageCommandsCmd)("--help-legacy", usageLegacyCmd)(
        "-h", usageShortCmd)("--help", usageShortCmd);
    registerSettingsCommands(assign);
    registerServiceCommands(assign);
    registerHandlerCommands(assign);
    registerAttachmentCommands(assign);
    registerDomainCommands(assign);
    registerMailnameCommands(assign);
    registerDomainAliasCommands(assign);
    return commands;
}

} // namespace korvo::mail::postfix::vornctl_commands
