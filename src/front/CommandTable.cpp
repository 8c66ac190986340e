#include "front/CommandTable.h"

#include "front/AttachmentCommands.h"
#include "front/DomainAliasCommands.h"
#include "front/DomainCommands.h"
#include "front/HandlerCommands.h"
#include "front/MailnameCommands.h"
#include "front/ServiceCommands.h"
#include "front/SettingsCommands.h"
#include "front/Usage.h"

#include <iostream>
#include <sstream>

namespace korvo::mail::postfix::vornctl_commands {

namespace {

int usageShortCmd(int, char**) {
    usageShort(0, std::cout);
}
int usageCommandsCmd(int, char**) {
    usageCommands(0, std::cout, commandDescriptions, commandDescriptionCount);
}
int usageLegacyCmd(int, char**) {
    usageLegacy(0, std::cout, commandDescriptions, commandDescriptionCount);
}

const CommandDescription helpCommandsCommand{"--help-commands", usageCommandsCmd, "",
                                             "displays vornctl commands list and exit"};
const CommandDescription helpLegacyCommand{"--help-legacy", usageLegacyCmd, "",
                                           "displays legacy vornctl help and exit"};
const CommandDescription helpCommand{"-h, --help", usageShortCmd, "",
                                     "displays vornctl usage summary and exit"};

} // namespace

// Help order, which mixes the families; each row is defined next to its
// command's function. The rows are copied in when the program starts, so
// nothing may read the table before main.
const CommandDescription commandDescriptions[] = {
    addMailnameCommand,
    removeMailnameCommand,
    renameMailnameCommand,
    addMailboxCommand,
    removeMailboxCommand,
    getMailboxSizeCommand,
    setPasswordCommand,
    setMailboxDiskQuotaCommand,
    addRedirectCommand,
    removeRedirectCommand,
    setAutoresponderCommand,
    resetAutoresponderCommand,
    addAliasCommand,
    removeAliasCommand,
    addDomainCommand,
    removeDomainCommand,
    turnOnDomainCommand,
    turnOffDomainCommand,
    setDomainDiskQuotaCommand,
    addBadmailfromCommand,
    removeBadmailfromCommand,
    setBounceCommand,
    setCatchallCommand,
    setRejectCommand,
    unsetRejectCommand,
    addWhitelistCommand,
    removeWhitelistCommand,
    setMapsProtectionCommand,
    setAccountsFormatCommand,
    featuresCommand,
    setMaxLetterSizeCommand,
    getMaxLetterSizeCommand,
    getMailboxSizeLimitCommand,
    listAttachmentsCommand,
    addAttachmentCommand,
    removeAttachmentCommand,
    updateSpfCommand,
    addDomainAliasCommand,
    delDomainAliasCommand,
    renameDomainAliasCommand,
    addHandlerCommand,
    updateHandlerCommand,
    removeHandlerCommand,
    disableHandlerCommand,
    enableHandlerCommand,
    checkHandlerCommand,
    setDomainKeyCommand,
    removeDomainKeyCommand,
    setMailParamsCommand,
    startServiceCommand,
    stopServiceCommand,
    restartServiceCommand,
    reloadServiceCommand,
    statusServiceCommand,
    startSmtpdCommand,
    stopSmtpdCommand,
    restartSmtpdCommand,
    statusSmtpdCommand,
    startQmailSendCommand,
    stopQmailSendCommand,
    startMaildCommand,
    stopMaildCommand,
    restartMaildCommand,
    statusMaildCommand,
    enableMessageSubmissionCommand,
    disableMessageSubmissionCommand,
    helpCommandsCommand,
    helpLegacyCommand,
    helpCommand,
};

const std::size_t commandDescriptionCount =
    sizeof commandDescriptions / sizeof *commandDescriptions;

std::vector<std::string> commandWords(const std::string& name) {
    std::vector<std::string> words;
    std::istringstream parts(name);
    std::string word;
    while (parts >> word) {
        if (!word.empty() && word.back() == ',')
            word.pop_back();
        if (!word.empty())
            words.push_back(word);
    }
    return words;
}

CommandMap buildCommandTable() {
    CommandMap commands;
    for (std::size_t i = 0; i < commandDescriptionCount; ++i)
        for (const std::string& word : commandWords(commandDescriptions[i].name))
            commands[word] = commandDescriptions[i].handler;
    return commands;
}

} // namespace korvo::mail::postfix::vornctl_commands
