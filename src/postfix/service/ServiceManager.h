// Start, stop, restart, reload and status of the Postfix mail system.
//
// Commands go to the init script /etc/init.d/postfix, run directly (no
// shell) with stdin from /dev/null, stdout and stderr inherited and an
// environment holding nothing but LANG=C. Whether Postfix really runs is not
// taken from the script's word: it runs when the process named in
// /var/spool/postfix/pid/master.pid has a child called "qmgr", which the
// master starts only once it is up. A missing, stale or unreadable pid file
// therefore means "stopped". After a successful start or restart the
// operations wait up to five seconds for that state and answer 1 when it
// never comes, so a caller cannot tell that apart from a script that itself
// exited with 1.
//
// Every operation returns the script's exit code (255 when it did not exit
// normally) or 0/1 as described; a script that cannot be started at all
// (missing, not executable) raises the process layer's korvo::SystemError.
//
// The class also holds the two module operations of the service commands,
// which edit master.cf through a loaded ModuleManager without touching the
// running system (the caller reloads Postfix when storeModules wrote).
#ifndef KORVO_POSTFIX_SERVICEMANAGER_H
#define KORVO_POSTFIX_SERVICEMANAGER_H

#include <string>

namespace korvo::mail::postfix {

class ModuleManager;
class ModuleInfo;

class ServiceManager {
public:
    ServiceManager() = delete;

    // Runs "/etc/init.d/postfix VERB" and returns its exit code (255 when it
    // was killed by a signal).
    static int rcCommand(const std::string& verb);

    // Does nothing and returns 0 when Postfix already runs.
    static int startServer();
    // Does nothing and returns 0 when Postfix is not running.
    static int stopServer();
    static int restartServer();
    static int reloadServer();
    // 0 as soon as Postfix runs, checking retries + 1 times one second apart;
    // 1 when it never did.
    static int statusServer(long retries);

    // Enables the entry named like info when either master.cf or the disabled
    // services file has it (its text stays as it is), else adds info enabled.
    static void addOrEnableModule(ModuleManager& manager, const ModuleInfo& info);
    // Moves the submission service's entry out of master.cf; false when
    // master.cf has none.
    static bool disableSubmission(ModuleManager& manager);
};

} // namespace korvo::mail::postfix

#endif
