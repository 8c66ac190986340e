#include "setup/MasterCfSetup.h"

#include "postfix/config/ModuleManager.h"
#include "setup/SetupPaths.h"

namespace korvo::setup {

using mail::postfix::ModuleInfo;
using mail::postfix::ModuleManager;
using mail::postfix::ModuleType;

ModuleInfo deliveryService(const std::string& agentPath) {
    ModuleInfo info;
    info.name = TRANSPORT;
    info.type = ModuleType::UNIX;
    info.privateService = boost::logic::indeterminate;
    info.unprivileged = false;
    info.chroot = false;
    // D: Delivered-To (and loop detection), R: Return-Path, h: domains in
    // lower case, as the tables hold them.
    info.command = {"pipe",         "flags=DRh",         std::string("user=") + MAIL_ACCOUNT,
                    "null_sender=", "argv=" + agentPath, "--sender=${sender}",
                    "--",           "${recipient}"};
    return info;
}

bool ensureDeliveryService(const std::string& agentPath, bool force, SetupReport& report) {
    ModuleManager& manager = ModuleManager::getInstance();
    manager.loadModules(true);
    const ModuleInfo wanted = deliveryService(agentPath);
    const std::string line = wanted.format();
    if (manager.hasModule(wanted.name, wanted.type, true)) {
        const std::string present = manager.getModule(wanted.name, wanted.type, true).format();
        if (present != line && !force)
            report.refused("master.cf: service " + wanted.name + " is \"" + present +
                           "\"; left as it is (--force replaces it)");
        if (present != line && force) {
            manager.addModule(wanted, true);
            report.changed("master.cf: replaced service " + wanted.name + ": " + line);
        }
    } else if (manager.hasModule(wanted.name, wanted.type, false) && !force) {
        report.refused("master.cf: service " + wanted.name +
                       " is switched off; left as it is (--force adds it)");
    } else {
        manager.addModule(wanted, true);
        report.changed("master.cf: added service " + line);
    }
    return manager.storeModules(false);
}

} // namespace korvo::setup
