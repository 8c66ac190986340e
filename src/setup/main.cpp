// vornctl-setup: prepares a Debian server with Postfix for vornctl. See
// vornctl-setup(8); every step is safe to repeat.
#include "postfix/service/ServiceManager.h"
#include "setup/AccountSetup.h"
#include "setup/AuthDatabaseSetup.h"
#include "setup/FileSetup.h"
#include "setup/MailAccessSetup.h"
#include "setup/MainCfSetup.h"
#include "setup/MasterCfSetup.h"
#include "setup/SaslSetup.h"
#include "setup/SetupPaths.h"
#include "setup/SetupReport.h"
#include "setup/TableSetup.h"
#include "setup/TmpfilesSetup.h"
#include "utils/Locks.h"
#include "utils/OrqConf.h"

#include <boost/program_options.hpp>
#include <exception>
#include <functional>
#include <iostream>
#include <optional>
#include <vector>
#include <unistd.h>

namespace po = boost::program_options;

namespace korvo::setup {
namespace {

struct Options {
    bool force = false;
    std::string agent = VORNCTL_DELIVER_PATH;
    std::string filter = VORNCTL_FILTER_PATH;
    std::string autoresponder = VORNCTL_AUTORESPONDER_PATH;
    std::string remote = VORNCTL_REMOTE_PATH;
    TlsFiles tls;
};

const char* const usage = "usage: vornctl-setup [--force] [--delivery-agent=PATH] [--filter=PATH]"
                          " [--autoresponder=PATH] [--remote-transport=PATH]"
                          " [--tls-cert=PATH --tls-key=PATH]";

// Parses argv; ends the process for help (0) and for bad options (2).
Options parseOptions(int argc, char** argv) {
    Options options;
    po::options_description described("options");
    described.add_options()("help,h", "print this help and exit")(
        "force", po::bool_switch(&options.force),
        "replace settings, services and owners that differ from what setup makes")(
        "delivery-agent", po::value(&options.agent),
        "the delivery agent master.cf runs (default " VORNCTL_DELIVER_PATH ")")(
        "filter", po::value(&options.filter),
        "the before-queue filter master.cf runs (default " VORNCTL_FILTER_PATH ")")(
        "autoresponder", po::value(&options.autoresponder),
        "the program the autoresponder hook links to (default " VORNCTL_AUTORESPONDER_PATH ")")(
        "remote-transport", po::value(&options.remote),
        "the transport master.cf runs for mail to other hosts (default " VORNCTL_REMOTE_PATH
        ")")(
        "tls-cert", po::value(&options.tls.cert),
        "the certificate smtpd offers (default: main.cf's, else a self-signed one setup makes)")(
        "tls-key", po::value(&options.tls.key), "the key of --tls-cert");
    po::variables_map values;
    try {
        po::store(po::command_line_parser(argc, argv).options(described).run(), values);
        po::notify(values);
    } catch (const po::error& error) {
        std::cerr << "vornctl-setup: " << error.what() << "\n" << usage << std::endl;
        std::exit(2);
    }
    if (values.count("help") != 0) {
        std::cout << usage << "\n" << described;
        std::exit(0);
    }
    return options;
}

// Runs one step; a failure is reported and the next step goes on.
void step(SetupReport& report, const char* name, const std::function<void()>& body) {
    try {
        body();
    } catch (const std::exception& error) {
        report.failed(name, error.what());
    }
}

void reloadPostfix(SetupReport& report) {
    using mail::postfix::ServiceManager;
    if (ServiceManager::statusServer(0) != 0)
        return;
    if (ServiceManager::reloadServer() != 0)
        report.failed("reload", "the Postfix init script could not reload Postfix");
    else
        report.changed("reloaded Postfix");
}

// Files, tables and the mail account, each step on its own.
void installFiles(const Options& options, const std::string& mailRoot, SetupReport& report) {
    step(report, "mail account", [&] { ensureMailAccount(mailRoot, report); });
    step(report, "lock directory", [&] {
        ensureDirectory(KORVO_LOCK_FILES_DIR, {0, 0, 0755}, options.force, report);
        ensureTmpfilesEntry(options.force, report);
    });
    step(report, "tables", [&] {
        const Account postfix = lookupAccount(POSTFIX_ACCOUNT);
        // Postfix reads the authentication database beside the tables.
        ensureDirectory(TABLE_DIRECTORY, {postfix.uid, 0, 0770}, options.force, report);
        ensureTables({0, 0, 0644}, options.force, report);
        ensureAuthDatabase(AUTH_DATABASE, {postfix.uid, 0, 0460}, options.force, report);
    });
    step(report, "handler registry", [&] {
        ensureDirectory(HANDLER_REGISTRY, {0, 0, 0755}, options.force, report);
        ensureDirectory(HANDLER_REGISTRY_INFO, {0, 0, 0755}, options.force, report);
        ensureDirectory(HANDLER_HOOKS, {0, 0, 0755}, options.force, report);
        ensureSymlink(AUTORESPONDER_HOOK, options.autoresponder, report);
    });
    step(report, "mail homes", [&] {
        // The delivery agent, as popuser, passes through to the homes.
        const Account mail = lookupAccount(MAIL_ACCOUNT);
        ensureDirectory(mailRoot, {0, mail.gid, 0750}, options.force, report);
    });
    step(report, "deliverquota", [&] {
        if (::access(DELIVERQUOTA_PROGRAM, X_OK) != 0)
            throw std::runtime_error(std::string(DELIVERQUOTA_PROGRAM) +
                                     " is missing: install maildrop");
        ensureSymlink(DELIVERQUOTA_LINK, DELIVERQUOTA_PROGRAM, report);
    });
    if (::access(options.agent.c_str(), X_OK) != 0)
        report.note("the delivery agent " + options.agent + " is not an executable file");
}

// The certificate and key smtpd offers are main.cf settings like the
// others; Postfix's own key default is the certificate file itself.
TlsFiles judgeTls(MainCfChanges& mainCf, const Options& options) {
    const char* const certName = "smtpd_tls_cert_file";
    const char* const keyName = "smtpd_tls_key_file";
    const std::string keyDefault = std::string("$") + certName;
    const std::string key = mainCf.configured(keyName);
    const TlsFiles tls =
        chooseTlsFiles(options.tls, {mainCf.configured(certName), key.empty() ? keyDefault : key},
                       mainCf.configDirectory());
    mainCf.add({certName, tls.cert, MainCfSetting::Owned}, options.force);
    mainCf.add({keyName, tls.key, MainCfSetting::Owned, keyDefault}, options.force);
    return tls;
}

// Every Postfix setting is judged before anything changes: a setting
// someone else made stops the whole run, so Postfix is never left accepting
// the tool's domains without the transport that delivers them.
int run(const Options& options) {
    SetupReport report(std::cout, std::cerr);
    std::optional<MasterCfChanges> masterCf;
    std::optional<MainCfChanges> mainCf;
    TlsFiles tls;
    step(report, "master.cf", [&] {
        masterCf.emplace(options.agent, options.filter, options.remote, options.force);
    });
    step(report, "main.cf", [&] {
        mainCf.emplace(options.force);
        tls = judgeTls(*mainCf, options);
    });
    if (!report.complete())
        return 1;
    const std::vector<std::string> sasl =
        saslConfigRefusals(saslDirectory(mainCf->configDirectory()), options.force);
    for (const std::vector<std::string>* refusals :
         {&masterCf->refusals(), &mainCf->refusals(), &sasl})
        for (const std::string& refusal : *refusals)
            report.refused(refusal);
    if (!report.complete()) {
        report.failed("settings", "nothing was changed; --force replaces the settings above");
        return 1;
    }
    for (const std::string& note : mainCf->notes())
        report.note(note);
    installFiles(options, orqConfGetDefaultByIndex(KORVO_MAILNAMES_D), report);
    const std::string configDir = mainCf->configDirectory();
    if (tls.cert == selfSignedFiles(configDir).cert)
        step(report, "TLS certificate", [&] { ensureSelfSigned(configDir, report); });
    bool configured = false;
    // master.cf first: the transport exists before main.cf names it.
    step(report, "master.cf", [&] { configured = masterCf->write(report); });
    step(report, "main.cf", [&] {
        configured = configured || !mainCf->empty();
        mainCf->write(report);
    });
    step(report, "mail access",
         [&] { configured = ensureMailAccess(options.force, report) || configured; });
    if (configured)
        step(report, "reload", [&] { reloadPostfix(report); });
    return report.complete() ? 0 : 1;
}

} // namespace
} // namespace korvo::setup

int main(int argc, char** argv) {
    const korvo::setup::Options options = korvo::setup::parseOptions(argc, argv);
    if (::geteuid() != 0) {
        std::cerr << "vornctl-setup: must be run as root" << std::endl;
        return 1;
    }
    return korvo::setup::run(options);
}
