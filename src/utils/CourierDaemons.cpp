#include "utils/CourierDaemons.h"

#include "utils/ChildCore.h"
#include "utils/Exceptions.h"
#include "utils/Logging.h"
#include "utils/ServiceScripts.h"

#include <cerrno>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>

namespace {

const char AUTHDAEMON_SCRIPT[] = "/etc/init.d/courier-authdaemon";

struct Script {
    CourierDaemon daemon;
    const char* path;
};

const Script scripts[] = {
    {COURIER_POP3, "/etc/init.d/courier-pop"},
    {COURIER_POP3S, "/etc/init.d/courier-pop-ssl"},
    {COURIER_IMAP, "/etc/init.d/courier-imap"},
    {COURIER_IMAPS, "/etc/init.d/courier-imap-ssl"},
};

int combine(int result, int next) {
    return result != 0 ? result : next;
}

bool installed(const char* path) {
    struct stat st;
    if (::stat(path, &st) == 0)
        return true;
    messlog2(0, 0, "Unable to find start/stop script for '%s'\n", path);
    return false;
}

// One package missing (courier-pop without courier-imap) fails its
// daemons only.
int runScript(const char* path, const char* action) {
    return installed(path) ? rc_script(path, action) : -1;
}

int eachScript(unsigned daemons, const char* action) {
    int result = 0;
    for (const Script& script : scripts)
        if (daemons & script.daemon)
            result = combine(result, runScript(script.path, action));
    return result;
}

// The LSB status of one script: 0 running, 1 to 3 not running.
int scriptStatus(const char* path) {
    const char* const argv[] = {path, "status", nullptr};
    korvo::ChildPlan plan;
    plan.argv = argv;
    plan.file = path;
    plan.closeDescriptors = true;
    plan.newSession = true;
    plan.stdio[0] = korvo::CHILD_DEVNULL;
    plan.stdio[1] = korvo::CHILD_DEVNULL;
    plan.stdio[2] = korvo::CHILD_DEVNULL;
    try {
        korvo::ChildProcess child(plan);
        if (const auto error = child.waitExec()) {
            errno = error->code;
            messlog2(0, 0, "Unable to run %s: %s", path, error->message.c_str());
            return -1;
        }
        const int status = child.wait();
        if (!WIFEXITED(status))
            return -1;
        const int code = WEXITSTATUS(status);
        return code == 0 ? 0 : code <= 3 ? 1 : -1;
    } catch (const korvo::SystemError& e) {
        errno = e.code();
        messlog2(0, 0, "Unable to run %s: %s", path, e.what());
        return -1;
    }
}

} // namespace

bool courier_split_scripts() {
    struct stat st;
    return ::stat(AUTHDAEMON_SCRIPT, &st) == 0;
}

int courier_control(unsigned daemons, const char* action) {
    daemons &= COURIER_ALL;
    if (daemons == 0)
        return 0;
    const bool all = daemons == COURIER_ALL;
    if (std::strcmp(action, "stop") == 0) {
        const int result = eachScript(daemons, "stop");
        return all ? combine(result, rc_script(AUTHDAEMON_SCRIPT, "stop")) : result;
    }
    if (std::strcmp(action, "start") == 0)
        return combine(rc_script(AUTHDAEMON_SCRIPT, "start"), eachScript(daemons, "start"));
    // restart and reload: a changed authentication setting takes effect too
    // when everything restarts.
    const int auth = rc_script(AUTHDAEMON_SCRIPT, all ? "restart" : "start");
    return combine(auth, eachScript(daemons, "restart"));
}

int courier_status(unsigned daemons) {
    int result = 0;
    for (const Script& script : scripts)
        if (daemons & script.daemon) {
            const int status = installed(script.path) ? scriptStatus(script.path) : -1;
            if (status < 0)
                return -1;
            result = combine(result, status);
        }
    return result;
}
