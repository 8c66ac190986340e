#include "setup/AccountSetup.h"

#include "setup/SetupPaths.h"
#include "utils/ForkExec.h"

#include <cstdlib>
#include <grp.h>
#include <pwd.h>
#include <stdexcept>
#include <vector>

namespace korvo::setup {

void runAccountProgram(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const std::string& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    char* out = nullptr;
    char* err = nullptr;
    const int status = fork_execv_getouterr(&out, &err, args[0], args.data());
    const std::string said = std::string(out != nullptr ? out : "") + (err != nullptr ? err : "");
    std::free(out);
    std::free(err);
    if (status != 0)
        throw std::runtime_error(argv[0] + " exited with status " + std::to_string(status) +
                                 (said.empty() ? "" : ": " + said));
}

Account lookupAccount(const std::string& name) {
    const struct passwd* entry = ::getpwnam(name.c_str());
    if (entry == nullptr)
        throw std::runtime_error("user " + name + " not found");
    return {entry->pw_uid, entry->pw_gid};
}

void ensureMailAccount(const std::string& mailRoot, SetupReport& report) {
    if (::getpwnam(MAIL_ACCOUNT) != nullptr)
        return;
    if (::getgrnam(MAIL_ACCOUNT) == nullptr) {
        runAccountProgram({GROUPADD, "--system", MAIL_ACCOUNT});
        report.changed(std::string("created group ") + MAIL_ACCOUNT);
    }
    runAccountProgram({USERADD, "--system", "--gid", MAIL_ACCOUNT, "--home-dir", mailRoot,
                       "--no-create-home", "--shell", NOLOGIN_SHELL, MAIL_ACCOUNT});
    report.changed(std::string("created user ") + MAIL_ACCOUNT + " (home " + mailRoot + ")");
}

} // namespace korvo::setup
