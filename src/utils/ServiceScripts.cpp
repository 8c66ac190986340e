#include "utils/ServiceScripts.h"

#include "utils/ChildCore.h"
#include "utils/CourierDaemons.h"
#include "utils/Exceptions.h"
#include "utils/Logging.h"
#include "utils/OrqConf.h"
#include "utils/ProcessIteration.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>

namespace {

const char* const kInitDirectory = "/etc/init.d/";
const char* const courierService = "courier-imap";

bool exists(const std::string& path) {
    struct stat status;
    return ::stat(path.c_str(), &status) == 0;
}

// Services whose control involves more than their init script: the web
// server (any name beginning with the configured HTTPD_SERVICE), the servlet
// container and the CF servers.
bool needsSpecialControl(const std::string& service) {
    const std::string httpd = orqConfGetDefaultByIndex(HTTPD_SERVICE);
    return service.compare(0, httpd.size(), httpd) == 0 || service == "tomcat6" ||
           service == "coldfusion" || service == "jrun";
}

int stopAtName(KorvoProcessInfo* info, void* name) {
    return std::strcmp(info->procname, static_cast<const char*>(name)) == 0 ? 0 : 1;
}

bool processRunning(const char* name) {
    return iterateProcesses(KORVO_PROCESS_INFO_GET_PROCNAME, stopAtName, const_cast<char*>(name)) ==
           0;
}

// Ends the process unless script is an existing regular file.
void requireRegularFile(const char* script) {
    struct stat status;
    if (::stat(script, &status) != 0) {
        const int error = errno;
        if (error == ENOENT)
            messlog2(1, 0, "No such file '%s': %s", script, std::strerror(error));
        else
            messlog2(1, 0, "Error during access to '%s': %s", script, std::strerror(error));
    } else if (!S_ISREG(status.st_mode)) {
        errno = 0;
        messlog2(1, 0, "Not a regular file: '%s'", script);
    }
}

std::string directoryOf(const std::string& script) {
    const std::size_t slash = script.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : script.substr(0, slash);
}

// The name to execute once the child stands in the script's directory.
std::string pathFromScriptDirectory(const std::string& script) {
    const std::size_t slash = script.rfind('/');
    if (slash == std::string::npos || script[0] == '/')
        return script;
    return "./" + script.substr(slash + 1);
}

// A script that could not be started ends with the status its failure
// calls for: 1 when its directory cannot be entered, 3 when no new session
// can be started, otherwise the errno.
int scriptFailureStatus(const korvo::ChildError& error) {
    if (error.message == "cwd chdir")
        return 1;
    return error.message == "setsid" ? 3 : error.code;
}

void reportStartFailure(const korvo::ChildError& error, const std::string& directory) {
    errno = error.code;
    if (error.message == "cwd chdir")
        messlog2(0, 0, "Unable to change directory to %s: %s\n", directory.c_str(),
                 std::strerror(error.code));
    else if (error.message == "setsid")
        messlog2(0, 0, "setsid() failed");
}

// The script runs in its own directory and session, with standard input and
// output on /dev/null and no descriptor of ours but standard error.
std::unique_ptr<korvo::ChildProcess> startScript(const std::string& script, const char* name,
                                                 const char* action) {
    const std::string directory = directoryOf(script);
    const std::string path = pathFromScriptDirectory(script);
    const char* const argv[] = {name, action, nullptr};
    korvo::ChildPlan plan;
    plan.argv = argv;
    plan.file = path.c_str();
    plan.searchPath = true;
    plan.cwd = directory.c_str();
    plan.closeDescriptors = true;
    plan.newSession = true;
    plan.stdio[0] = korvo::CHILD_DEVNULL;
    plan.stdio[1] = korvo::CHILD_DEVNULL;
    plan.failureStatus = scriptFailureStatus;
    auto child = std::make_unique<korvo::ChildProcess>(plan);
    if (const std::optional<korvo::ChildError> error = child->waitExec())
        reportStartFailure(*error, directory);
    return child;
}

int waitForScript(korvo::ChildProcess& script, const char* name, const char* action,
                  const char* description, int verbose) {
    int status = 0;
    try {
        status = script.wait(WUNTRACED);
    } catch (const korvo::SystemError& e) {
        errno = e.code();
        messlog2(0, 0, "Error occured during %s service %s: %s\n", description, name,
                 std::strerror(e.code()));
        return -1;
    }
    errno = 0;
    if (WIFSTOPPED(status)) {
        messlog2(0, 0, "Unable to %s service %s: daemon stopped by signal %i\n", description, name,
                 WSTOPSIG(status));
        return -1;
    }
    if (WIFSIGNALED(status)) {
        messlog2(0, 0, "Unable to %s service %s: daemon killed by signal %i\n", description, name,
                 WTERMSIG(status));
        return -1;
    }
    if (WEXITSTATUS(status) == 0)
        return 0;
    if (verbose && std::strcmp(action, "status") != 0)
        messlog2(0, 0, "Service %s failed to %s\n", name, description);
    return -1;
}

} // namespace

int restart_daemon(const char* service, const char* action) {
    if (orqConfGet("NO_RESTART_DAEMON") != nullptr)
        return 0;
    errno = 0;
    if (service == nullptr || *service == '\0') {
        messlog2(0, 0, "Unknown service\n");
        return -1;
    }
    if (needsSpecialControl(service)) {
        errno = 0;
        messlog2(0, 0, "Unable to %s service %s: this program controls only mail services\n",
                 action, service);
        return -1;
    }
    // Where Courier comes as one script per daemon, its one name still
    // governs all of them.
    if (std::strcmp(service, courierService) == 0 && courier_split_scripts()) {
        if (std::strcmp(action, "status") == 0)
            return courier_status(COURIER_ALL) == 0 ? 0 : -1;
        return courier_control(COURIER_ALL, action);
    }
    std::string script = kInitDirectory + std::string(service);
    if (!exists(script))
        script += ".sh";
    if (!exists(script)) {
        messlog2(0, 0, "Unable to find start/stop script for '%s'\n", service);
        return -1;
    }
    return rc_script(script.c_str(), action);
}

int rc_script(const char* script, const char* action) {
    return rc_script_gen(script, script, action, 1);
}

int rc_script_gen(const char* script, const char* name, const char* action, int verbose) {
    if (std::strcmp(action, "graceful") == 0 && !processRunning("httpd2-prefork"))
        action = "restart";
    const char* const description =
        std::strcmp(action, "graceful") == 0 ? "gracefully restart" : action;
    requireRegularFile(script);
    std::unique_ptr<korvo::ChildProcess> child;
    try {
        child = startScript(script, name, action);
    } catch (const korvo::SystemError& e) {
        errno = e.code();
        messlog2(0, 0, "fork: %s for %s: %s\n", description, name, std::strerror(e.code()));
        return -1;
    }
    return waitForScript(*child, name, action, description, verbose);
}

int print_status(int result) {
    std::puts(result == 0 ? "is running" : result > 0 ? "is stopped" : "internal error");
    std::fflush(stdout);
    return result < 0 ? -1 : 0;
}
