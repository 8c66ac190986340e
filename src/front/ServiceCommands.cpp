#include "front/ServiceCommands.h"

#include "front/OptionValueTypes.h"
#include "front/ProgramOptionsHelper.h"
#include "mysql/Connection.h"
#include "mysql/MiscParam.h"
#include "postfix/config/ModuleManager.h"
#include "postfix/config/SmtpdModule.h"
#include "postfix/config/SmtpsdModule.h"
#include "postfix/config/SubmissionModule.h"
#include "postfix/service/CourierService.h"
#include "postfix/service/ServiceManager.h"
#include "utils/ReportException.h"
#include "utils/ServiceScripts.h"

#include <exception>
#include <iostream>
#include <string>

namespace po = boost::program_options;

namespace korvo::mail::postfix::vornctl_commands {

namespace {

using C = SelectedMailComponents;

constexpr unsigned postfixServices = C::SMTP | C::SMTPS | C::SUBMISSION;
constexpr unsigned courierComponents = C::POP3 | C::IMAP | C::POP3S | C::IMAPS;
const char courier[] = "courier-imap";

bool submissionAllowedByPanel() {
    korvo::mysql::Connection connection(true);
    return korvo::mail::restore::getBoolMiscParamSafe("message_submission", connection);
}

// master.cf written and Postfix running: the caller reloads it.
bool storeAndNeedReload(ModuleManager& manager) {
    return manager.storeModules(WRITE_IF_CHANGED) && ServiceManager::statusServer(0) == 0;
}

void disableModule(ModuleManager& manager, const ModuleInfo& info) {
    manager.disableModule(info.name, info.type);
}

// True when Postfix must be reloaded.
bool checkEnablePostfixModules(unsigned components) {
    if ((components & postfixServices) == 0)
        return false;
    ModuleManager& manager = ModuleManager::getInstance();
    manager.loadModules(KEEP_LOADED);
    if (components & C::SMTP)
        ServiceManager::addOrEnableModule(manager, SmtpdModule());
    if (components & C::SMTPS)
        ServiceManager::addOrEnableModule(manager, SmtpsdModule());
    if (components & C::SUBMISSION) {
        if (submissionAllowedByPanel())
            ServiceManager::addOrEnableModule(manager, SubmissionModule());
        else
            ServiceManager::disableSubmission(manager);
    }
    return storeAndNeedReload(manager);
}

// True when Postfix must be reloaded. Submission stays while the panel has
// it switched on.
bool checkDisablePostfixModules(unsigned components) {
    if ((components & postfixServices) == 0)
        return false;
    ModuleManager& manager = ModuleManager::getInstance();
    manager.loadModules(KEEP_LOADED);
    if (components & C::SMTP)
        disableModule(manager, SmtpdModule());
    if (components & C::SMTPS)
        disableModule(manager, SmtpsdModule());
    if ((components & C::SUBMISSION) && !submissionAllowedByPanel())
        ServiceManager::disableSubmission(manager);
    return storeAndNeedReload(manager);
}

// The selected components; none given means all.
unsigned parseComponents(int argc, char** argv, const char* description,
                         const CommandDescription& row) {
    ProgramOptionsHelper helper(description, usageSyntax(row));
    helper.options.add_options()(
        "mail-component", po::value<C>(),
        "mail component name (mta|smtp|smtps|submission|pop3|imap|pop3s|imaps|all) (default all)");
    standardOptionsParse(helper, argc, argv);
    const unsigned components = helper.variables.count("mail-component")
                                    ? helper.variables["mail-component"].as<C>().components
                                    : 0u;
    return components == 0 ? static_cast<unsigned>(C::ALL) : components;
}

// The one call on Postfix as a whole in a set command: 1 when it fails or
// throws; a throw is reported here so that the command can go on.
int postfixStep(int (*call)()) {
    try {
        return call() != 0 ? 1 : 0;
    } catch (const std::exception& e) {
        korvo::reportException(e);
    } catch (...) {
        korvo::reportUntypedException();
    }
    return 1;
}

int courierStep(unsigned components, const char* action) {
    if ((components & courierComponents) == 0)
        return 0;
    return CourierService::control(components, action) != 0 ? 1 : 0;
}

// stop and restart: the MTA call replaces the reload.
int mtaOrReload(unsigned components, bool changed, int (*call)()) {
    if (components & C::MTA)
        return postfixStep(call);
    if (changed)
        ServiceManager::reloadServer();
    return 0;
}

int combine(int first, int second) {
    return first != 0 ? first : second;
}

void reloadWhen(bool changed) {
    if (changed)
        ServiceManager::reloadServer();
}

int startService(int argc, char** argv) {
    const unsigned set = parseComponents(argc, argv, "start a service", startServiceCommand);
    const bool changed = checkEnablePostfixModules(set);
    const int mta = (set & C::MTA) ? postfixStep(ServiceManager::startServer) : 0;
    reloadWhen(changed);
    return combine(mta, courierStep(set, "start"));
}

int stopService(int argc, char** argv) {
    const unsigned set = parseComponents(argc, argv, "stop a service", stopServiceCommand);
    const int mta = mtaOrReload(set, checkDisablePostfixModules(set), ServiceManager::stopServer);
    return combine(mta, courierStep(set, "stop"));
}

int restartService(int argc, char** argv) {
    const unsigned set = parseComponents(argc, argv, "restart a service", restartServiceCommand);
    const int mta = mtaOrReload(set, checkEnablePostfixModules(set), ServiceManager::restartServer);
    return combine(mta, courierStep(set, "restart"));
}

int reloadService(int argc, char** argv) {
    const unsigned set = parseComponents(argc, argv, "reload a service", reloadServiceCommand);
    const int mta = (set & C::MTA) ? postfixStep(ServiceManager::reloadServer) : 0;
    return combine(mta, courierStep(set, "reload"));
}

int statusService(int argc, char** argv) {
    const unsigned set = parseComponents(argc, argv, "get service status", statusServiceCommand);
    if (set & C::MTA) {
        std::cout << "mta " << std::flush;
        print_status(ServiceManager::statusServer(0));
    }
    if (set & courierComponents) {
        const std::pair<unsigned, const char*> order[] = {
            {C::POP3, "pop3 "}, {C::POP3S, "pop3s "}, {C::IMAP, "imap "}, {C::IMAPS, "imaps "}};
        for (const auto& [bit, label] : order) {
            if (set & bit) {
                std::cout << label << std::flush;
                print_status(CourierService::status(bit));
            }
        }
    }
    return 0;
}

int startSMTPD(int, char**) {
    reloadWhen(checkEnablePostfixModules(C::SMTP | C::SMTPS));
    return 0;
}

int stopSMTPD(int, char**) {
    reloadWhen(checkDisablePostfixModules(C::SMTP | C::SMTPS));
    return 0;
}

int statusMTA(int, char**) {
    print_status(ServiceManager::statusServer(0));
    return 0;
}

int startMTA(int, char**) {
    return ServiceManager::startServer();
}

int stopMTA(int, char**) {
    return ServiceManager::stopServer();
}

int startIMAP(int, char**) {
    return restart_daemon(courier, "start");
}

int stopIMAP(int, char**) {
    return restart_daemon(courier, "stop");
}

int restartIMAP(int, char**) {
    return restart_daemon(courier, "restart");
}

int statusIMAP(int, char**) {
    print_status(restart_daemon(courier, "status"));
    return 0;
}

// Unlike --start-service, the legacy switch does not ask the panel.
int enableSubmission(int, char**) {
    const SubmissionModule info;
    ModuleManager& manager = ModuleManager::getInstance();
    manager.loadModules(KEEP_LOADED);
    if (manager.hasModule(info.name, info.type, IN_EITHER_FILE))
        manager.enableModule(info.name, info.type);
    else
        manager.addModule(info, TO_MASTER_CF);
    reloadWhen(manager.storeModules(WRITE_IF_CHANGED));
    return 0;
}

int disableSubmission(int, char**) {
    ModuleManager& manager = ModuleManager::getInstance();
    manager.loadModules(KEEP_LOADED);
    disableModule(manager, SubmissionModule());
    reloadWhen(manager.storeModules(WRITE_IF_CHANGED));
    return 0;
}

} // namespace

#define SERVICE_SYNTAX                                                                             \
    "[--mail-component={mta|smtp|smtps|submission|pop3|imap|pop3s|imaps|all}] "                    \
    "[--mail-component=...]"
#define COURIER_COMPONENTS                                                                         \
    "--mail-component=imap --mail-component=pop3 --mail-component=imaps --mail-component=pop3s)"

const CommandDescription startServiceCommand{
    "--start-service", startService, SERVICE_SYNTAX,
    "starts entire mail service or one or more of its components"};
const CommandDescription stopServiceCommand{"--stop-service", stopService, SERVICE_SYNTAX,
                                            "stops entire mail service or its components"};
const CommandDescription restartServiceCommand{
    "--restart-service", restartService, SERVICE_SYNTAX,
    "restarts entire mail service or one or more of its components"};
const CommandDescription reloadServiceCommand{
    "--reload-service", reloadService, SERVICE_SYNTAX,
    "reloads configuration for all or selected mail components"};
const CommandDescription statusServiceCommand{
    "--status-service", statusService, SERVICE_SYNTAX,
    "returns status of entire mail service or its subcomponents"};

const CommandDescription startSmtpdCommand{
    "-p, --start-smtpd", startSMTPD, "",
    "starts SMTP server (obsoleted, use --start-service --mail-component=smtp "
    "--mail-component=smtps)"};
const CommandDescription stopSmtpdCommand{
    "-o, --stop-smtpd", stopSMTPD, "",
    "stops SMTP server (obsoleted, use --stop-service --mail-component=smtp "
    "--mail-component=smtps)"};
// Enabling the listeners again is all a restart of them needs.
const CommandDescription restartSmtpdCommand{
    "-r, --restart-smtpd", startSMTPD, "",
    "restarts SMTP server (obsoleted, use --restart-service --mail-component=smtp "
    "--mail-component=smtps)"};
const CommandDescription statusSmtpdCommand{
    "-s, --status-smtpd", statusMTA, "",
    "SMTP server status (obsoleted, use --status-service --mail-component=smtp "
    "--mail-component=smtps)"};
const CommandDescription startQmailSendCommand{
    "-l, --start-qmail-send", startMTA, "",
    "starts qmail (without xinetd), (obsoleted, use --start-service --mail-component=mta)"};
const CommandDescription stopQmailSendCommand{
    "-m, --stop-qmail-send", stopMTA, "",
    "stops qmail(without xinetd), (obsoleted, use --stop-service --mail-component=mta)"};
const CommandDescription startMaildCommand{
    "-i, --start-maild", startIMAP, "",
    "starts courier-imap (obsoleted, use --start-service " COURIER_COMPONENTS};
const CommandDescription stopMaildCommand{
    "-t, --stop-maild", stopIMAP, "",
    "stops courier-imap (obsoleted, use --stop-service " COURIER_COMPONENTS};
const CommandDescription restartMaildCommand{
    "-z, --restart-maild", restartIMAP, "",
    "restarts courier-imap (obsoleted, use --restart-service " COURIER_COMPONENTS};
const CommandDescription statusMaildCommand{
    "-e, --status-maild", statusIMAP, "",
    "returns courier-imap status (obsoleted, use --status-service " COURIER_COMPONENTS};
const CommandDescription enableMessageSubmissionCommand{
    "-a, --enable-message-submission", enableSubmission, "",
    "enables message submission (obsoleted, use --start-service --mail-component=submission"};
const CommandDescription disableMessageSubmissionCommand{
    "-b, --disable-message-submission", disableSubmission, "",
    "disables message submission (obsoleted, use --stop-service --mail-component=submission)"};

} // namespace korvo::mail::postfix::vornctl_commands
