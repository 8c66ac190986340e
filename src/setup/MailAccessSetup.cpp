#include "setup/MailAccessSetup.h"

#include "postfix/config/MainCfManager.h"
#include "setup/AccountSetup.h"
#include "setup/CourierSetup.h"
#include "setup/SetupPaths.h"
#include "utils/OrqConf.h"
#include "utils/ServiceScripts.h"

namespace korvo::setup {

namespace {

// The directory of the Courier settings files the tool writes.
std::string toolCourierDirectory() {
    std::string root = orqConfGetDefaultByIndex(COURIER_IMAP_ROOT_D);
    if (root.empty() || root.back() != '/')
        root += '/';
    return root + "etc/courier-imap";
}

// A running daemon reads its settings only when it starts.
void restartRunningAuthDaemon(SetupReport& report) {
    if (rc_script_gen(AUTHDAEMON_SCRIPT, AUTHDAEMON_SCRIPT, "status", 0) != 0)
        return;
    if (rc_script(AUTHDAEMON_SCRIPT, "restart") != 0)
        report.failed("courier", "the authentication daemon could not be restarted");
    else
        report.changed("restarted Courier's authentication daemon");
}

} // namespace

bool ensureMailAccess(bool force, SetupReport& report) {
    const Account mail = lookupAccount(MAIL_ACCOUNT);
    if (ensureCourierAuth(COURIER_CONFIG_DIR, AUTH_DATABASE,
                          orqConfGetDefaultByIndex(KORVO_MAILNAMES_D), mail.uid, mail.gid, force,
                          report))
        restartRunningAuthDaemon(report);
    linkCourierSettings(COURIER_CONFIG_DIR, toolCourierDirectory(), force, report);

    const std::string configDir =
        mail::postfix::MainCfManager::getInstance().getStringValue("config_directory", false);
    const bool sasl = ensureSaslConfig(saslDirectory(configDir), force, report);
    const bool member = ensureGroupMember(POSTFIX_ACCOUNT, COURIER_GROUP, report);
    return sasl || member;
}

} // namespace korvo::setup
