#include "front/AttachmentCommands.h"

#include "front/CommandOptions.h"
#include "front/LibraryResult.h"
#include "front/NameChecks.h"
#include "front/ProgramOptionsHelper.h"
#include "mail/storage/Attachments.h"
#include "utils/ErrorStream.h"

#include <string>

namespace po = boost::program_options;

namespace korvo::mail::postfix::vornctl_commands {

namespace {

// The checked domain and mailname every attachment command but the listing
// takes; declares them before the command's own options.
struct Mailbox {
    std::string domain;
    std::string mailname;
};

void declareMailbox(ProgramOptionsHelper& helper) {
    ProgramOptionsHelper::OptionAppender declare(helper);
    declare("domain-name", po::value<std::string>(), "domain name",
            true)("mailname", po::value<std::string>(), "mailname", true);
}

Mailbox checkedMailbox(const ProgramOptionsHelper& helper) {
    Mailbox mailbox{asciiDomainName(stringOption(helper, "domain-name"), "--domain-name"),
                    stringOption(helper, "mailname")};
    checkMailName(mailbox.mailname, "--mailname");
    return mailbox;
}

int listAttachments(int argc, char** argv) {
    ProgramOptionsHelper helper("list attachments", usageSyntax(listAttachmentsCommand));
    ProgramOptionsHelper::OptionAppender declare(helper);
    declare("in-blocks", "report in blocks rather than bytes (false by default)")(
        "fullname", "report full attachment paths (false by default)")(
        "domain-name", po::value<std::string>(), "domain name",
        true)("mail-all", "report attachments for all mailnames (false by default)")(
        "mailname", po::value<std::string>(), "mailname");
    standardOptionsParse(helper, argc, argv);
    const int blocks = hasOption(helper, "in-blocks") ? 1 : 0;
    const int full = hasOption(helper, "fullname") ? 1 : 0;
    const std::string domain =
        asciiDomainName(stringOption(helper, "domain-name"), "--domain-name");
    const bool one = hasOption(helper, "mailname");
    const bool all = hasOption(helper, "mail-all");
    if (!one && !all) {
        uerr << "neither --mailname nor --mail-all are specified" << std::endl;
        helper.usage(1, uerr);
    }
    if (one && all) {
        uerr << "you should not use --mailname and --mail-all together" << std::endl;
        helper.usage(1, uerr);
    }
    if (all)
        return statusOf(list_all_attachments(domain.c_str(), blocks, full));
    const std::string& mailname = stringOption(helper, "mailname");
    checkMailName(mailname, "--mailname");
    return statusOf(list_attachments(mailname.c_str(), domain.c_str(), blocks, full));
}

int addAttachment(int argc, char** argv) {
    ProgramOptionsHelper helper("add an attachment", usageSyntax(addAttachmentCommand));
    declareMailbox(helper);
    ProgramOptionsHelper::OptionAppender declare(helper);
    declare("file-name", po::value<std::string>(), "uploaded file name",
            true)("attachment-file-name", po::value<std::string>(), "attachment file name", true);
    standardOptionsParse(helper, argc, argv);
    const Mailbox mailbox = checkedMailbox(helper);
    const std::string& source = stringOption(helper, "file-name");
    const std::string& name = stringOption(helper, "attachment-file-name");
    checkSingleLine(source, "--file-name");
    checkFileName(name, "--attachment-file-name");
    return statusOf(add_attachment(mailbox.mailname.c_str(), mailbox.domain.c_str(), source.c_str(),
                                   name.c_str()));
}

int removeAttachment(int argc, char** argv) {
    ProgramOptionsHelper helper("remove an attachment", usageSyntax(removeAttachmentCommand));
    declareMailbox(helper);
    ProgramOptionsHelper::OptionAppender declare(helper);
    declare("attachment-file-name", po::value<std::string>(), "attachment file name", true);
    standardOptionsParse(helper, argc, argv);
    const Mailbox mailbox = checkedMailbox(helper);
    const std::string& name = stringOption(helper, "attachment-file-name");
    checkFileName(name, "--attachment-file-name");
    return statusOf(
        remove_attachment(mailbox.mailname.c_str(), mailbox.domain.c_str(), name.c_str()));
}

} // namespace

const CommandDescription listAttachmentsCommand{
    "--list-attachments", listAttachments,
    "[--in-blocks] [--fullname] --domain-name=<domain_name> (--mailname=<mail_name>|--mail-all)",
    "lists attachments for <mail_name>"};
const CommandDescription addAttachmentCommand{
    "--add-attachment", addAttachment,
    "--domain-name=<domain_name> --mailname=<mail_name> --file-name=<full_file_name> "
    "--attachment-file-name=<attachment_file_name>",
    "adds attachment for <mail_name>"};
const CommandDescription removeAttachmentCommand{
    "--remove-attachment", removeAttachment,
    "--domain-name=<domain_name> --mailname=<mail_name> "
    "--attachment-file-name=<attachment_file_name>",
    "remove attachment from <mail_name>"};

} // namespace korvo::mail::postfix::vornctl_commands
