#include "setup/MasterCfSetup.h"

#include "postfix/config/ModuleManager.h"
#include "setup/SaslSetup.h"
#include "setup/SetupPaths.h"

namespace korvo::setup {

using mail::postfix::IN_DISABLED_FILE;
using mail::postfix::IN_MASTER_CF;
using mail::postfix::ModuleInfo;
using mail::postfix::ModuleManager;
using mail::postfix::ModuleType;
using mail::postfix::RELOAD_FILES;
using mail::postfix::TO_MASTER_CF;
using mail::postfix::WRITE_IF_CHANGED;

// A pipe(8) transport that runs program as the mail account, one recipient
// per run, the sender given as an option; flags as pipe(8) takes them.
ModuleInfo pipeService(const char* name, const std::vector<std::string>& flags,
                       const std::string& program) {
    ModuleInfo info;
    info.name = name;
    info.type = ModuleType::UNIX;
    info.privateService = boost::logic::indeterminate;
    info.unprivileged = false;
    info.chroot = false;
    info.command = {"pipe"};
    info.command.insert(info.command.end(), flags.begin(), flags.end());
    for (const std::string& word :
         {std::string("user=") + MAIL_ACCOUNT, std::string("null_sender="), "argv=" + program,
          std::string("--sender=${sender}"), std::string("--"), std::string("${recipient}")})
        info.command.push_back(word);
    return info;
}

ModuleInfo deliveryService(const std::string& agentPath) {
    // D: Delivered-To (and loop detection), R: Return-Path, h: domains in
    // lower case, as the tables hold them.
    return pipeService(TRANSPORT, {"flags=DRh"}, agentPath);
}

ModuleInfo filterService(const std::string& filterPath) {
    ModuleInfo info;
    info.name = FILTER_LISTENER;
    info.type = ModuleType::INET;
    info.privateService = false;
    // spawn starts as root to take on the filter's account.
    info.unprivileged = false;
    info.chroot = false;
    info.command = {"spawn", std::string("user=") + MAIL_ACCOUNT, "argv=" + filterPath,
                    std::string("--next-hop=") + REINJECTION_LISTENER};
    return info;
}

ModuleInfo reinjectionService() {
    ModuleInfo info;
    info.name = REINJECTION_LISTENER;
    info.type = ModuleType::INET;
    info.privateService = false;
    info.chroot = false;
    // What the filter passes on was checked by the smtpd in front of it;
    // only the loopback network may talk here.
    info.command = {"smtpd",
                    "-o", "smtpd_proxy_filter=",
                    "-o", "smtpd_authorized_xforward_hosts=127.0.0.0/8",
                    "-o", "smtpd_client_restrictions=",
                    "-o", "smtpd_helo_restrictions=",
                    "-o", "smtpd_sender_restrictions=",
                    "-o", "smtpd_relay_restrictions=",
                    "-o", "smtpd_recipient_restrictions=permit_mynetworks,reject",
                    "-o", "smtpd_data_restrictions=",
                    "-o", "mynetworks=127.0.0.0/8",
                    "-o", "receive_override_options=no_unknown_recipient_checks"};
    return info;
}

ModuleInfo remoteService(const std::string& remotePath) {
    return pipeService(REMOTE_TRANSPORT, {}, remotePath);
}

ModuleInfo remoteReinjectionService() {
    ModuleInfo info = reinjectionService();
    info.name = REMOTE_REINJECTION_LISTENER;
    // Aliases were expanded when the message first came in; everything
    // handed back here leaves through the smtp client, to the relay host or,
    // without one, the recipient's domain. Postfix expands $relayhost when
    // the service starts, so a relay host set later is honoured too.
    info.command.back() =
        "receive_override_options=no_unknown_recipient_checks,no_address_mappings";
    info.command.push_back("-o");
    info.command.push_back("content_filter=smtp:$relayhost");
    return info;
}

std::vector<ModuleInfo> wantedServices(const std::string& agentPath, const std::string& filterPath,
                                       const std::string& remotePath) {
    return {deliveryService(agentPath), filterService(filterPath), reinjectionService(),
            remoteService(remotePath), remoteReinjectionService()};
}

MasterCfChanges::MasterCfChanges(const std::string& agentPath, const std::string& filterPath,
                                 const std::string& remotePath, bool force) {
    ModuleManager& manager = ModuleManager::getInstance();
    manager.loadModules(RELOAD_FILES);
    for (const ModuleInfo& wanted : wantedServices(agentPath, filterPath, remotePath)) {
        const std::string line = wanted.format();
        if (manager.hasModule(wanted.name, wanted.type, IN_MASTER_CF)) {
            const std::string present =
                manager.getModule(wanted.name, wanted.type, IN_MASTER_CF).format();
            if (present == line)
                continue;
            if (!force) {
                refusals_.push_back("master.cf: service " + wanted.name + " is \"" + present +
                                    "\" (--force replaces it)");
                continue;
            }
            changes_.push_back("master.cf: replaced service " + wanted.name + ": " + line);
        } else if (manager.hasModule(wanted.name, wanted.type, IN_DISABLED_FILE) && !force) {
            refusals_.push_back("master.cf: service " + wanted.name +
                                " is switched off (--force adds it)");
            continue;
        } else {
            changes_.push_back("master.cf: added service " + line);
        }
        additions_.push_back(wanted);
    }
    judgeSmtpChroot(manager, force);
}

namespace {

// The smtp entry exactly as Debian's postfix package ships it
// ("smtp inet n - y - - smtpd"): the package's choice, not an administrator's.
bool isPackagedSmtp(const ModuleInfo& smtp) {
    ModuleInfo packaged;
    packaged.name = "smtp";
    packaged.type = ModuleType::INET;
    packaged.privateService = false;
    packaged.chroot = true;
    packaged.command = {"smtpd"};
    return smtp.format() == packaged.format();
}

} // namespace

// SMTP AUTH asks Courier's authentication daemon through a socket a
// chrooted smtpd cannot reach: the smtp service runs unchrooted. The entry
// Debian ships is unchrooted unasked; one an administrator tailored only
// with --force.
void MasterCfChanges::judgeSmtpChroot(const ModuleManager& manager, bool force) {
    if (!manager.hasModule("smtp", ModuleType::INET, IN_MASTER_CF))
        return;
    ModuleInfo smtp = manager.getModule("smtp", ModuleType::INET, IN_MASTER_CF);
    if (!smtp.chroot)
        return;
    if (!force && !isPackagedSmtp(smtp)) {
        refusals_.push_back("master.cf: service smtp runs chrooted, where SMTP AUTH cannot reach " +
                            std::string(AUTHDAEMON_SOCKET) + " (--force unchroots it)");
        return;
    }
    smtp.chroot = false;
    changes_.push_back("master.cf: service smtp runs unchrooted: " + smtp.format());
    additions_.push_back(smtp);
}

bool MasterCfChanges::write(SetupReport& report) const {
    ModuleManager& manager = ModuleManager::getInstance();
    for (const ModuleInfo& service : additions_)
        manager.addModule(service, TO_MASTER_CF);
    const bool written = manager.storeModules(WRITE_IF_CHANGED);
    for (const std::string& change : changes_)
        report.changed(change);
    return written;
}

} // namespace korvo::setup
