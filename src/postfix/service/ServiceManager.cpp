#include "postfix/service/ServiceManager.h"

#include "postfix/tables/PostfixUtilities.h"
#include "process/DescriptorSpec.h"
#include "process/ProcessLaunch.h"
#include "utils/ErrorStream.h"
#include "utils/ProcessIteration.h"

#include <fstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace korvo::mail::postfix {

namespace {

const char* const masterPidFile = "/var/spool/postfix/pid/master.pid";
// Checks made after a start or restart, one second apart.
const int confirmationChecks = 6;

int getMasterPid() {
    std::ifstream in(masterPidFile);
    int pid = -1;
    if (!(in >> pid))
        return -1;
    return pid;
}

// Stops the walk (0) at the queue manager started by the master in context.
int findQmgrInfo(KorvoProcessInfo* info, void* context) {
    const int masterPid = *static_cast<const int*>(context);
    return info->ppid == masterPid && info->procname != nullptr &&
                   std::string(info->procname) == "qmgr"
               ? 0
               : 1;
}

// The master answers to its pid file and has started its queue manager.
bool postfixRunning() {
    int masterPid = getMasterPid();
    return masterPid != -1 &&
           iterateProcesses(KORVO_PROCESS_INFO_GET_PPID | KORVO_PROCESS_INFO_GET_PROCNAME,
                            findQmgrInfo, &masterPid) == 0;
}

// The process named by the pid file is Postfix's master, whether or not its
// queue manager is up: right after a reload the master restarts qmgr, and a
// stop issued in that moment must still stop it.
bool masterAlive() {
    const int masterPid = getMasterPid();
    if (masterPid <= 0)
        return false;
    // "PID (master) STATE ...": a zombie left behind by a stopped master
    // keeps its name but is no longer running.
    std::ifstream stat("/proc/" + std::to_string(masterPid) + "/stat");
    std::string line;
    std::getline(stat, line);
    const std::string::size_type name = line.find(" (master) ");
    return name != std::string::npos && line.size() > name + 10 && line[name + 10] != 'Z';
}

// Gives a freshly started master time to bring up its queue manager.
int confirmRunning() {
    for (int check = 1;; ++check) {
        if (postfixRunning())
            return 0;
        if (check == confirmationChecks)
            return 1;
        ::sleep(1);
    }
}

} // namespace

int ServiceManager::rcCommand(const std::string& verb) {
    const std::vector<std::string> command = utilities::initScriptCommand(verb);
    std::vector<const char*> argv;
    for (const std::string& argument : command)
        argv.push_back(argument.c_str());
    argv.push_back(nullptr);
    // Stdout and stderr stay the tool's own, so the script talks to the user.
    process::ProcessLaunch script(argv.data(), utilities::POSTFIX_INIT_SCRIPT, nullptr,
                                  utilities::INIT_SCRIPT_ENVIRONMENT, false, false, false, {},
                                  process::FD_DEVNULL, process::FD_INHERIT, process::FD_AS_STDOUT);
    try {
        script.waitExec();
    } catch (...) {
        // The child reported why exec failed and exited; reap it.
        script.waitExit();
        throw;
    }
    const int status = script.waitExit();
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    // A script that dies says nothing itself; without this the failure is silent.
    uerr << utilities::POSTFIX_INIT_SCRIPT << " killed by signal " << WTERMSIG(status) << std::endl;
    return 255;
}

int ServiceManager::reloadServer() {
    return rcCommand("reload");
}

int ServiceManager::stopServer() {
    return postfixRunning() || masterAlive() ? rcCommand("stop") : 0;
}

int ServiceManager::startServer() {
    if (postfixRunning())
        return 0;
    const int code = rcCommand("start");
    return code != 0 ? code : confirmRunning();
}

int ServiceManager::restartServer() {
    const int code = rcCommand("restart");
    return code != 0 ? code : confirmRunning();
}

int ServiceManager::statusServer(long retries) {
    for (long check = 0; check <= retries; ++check) {
        if (check > 0)
            ::sleep(1);
        if (postfixRunning())
            return 0;
    }
    return 1;
}

} // namespace korvo::mail::postfix
