// The mail account popuser, which owns every mail home and under which the
// delivery agent runs.
//
// A missing group and account are made with the system's own groupadd and
// useradd as system entries: primary group popuser, home the root of mail
// homes (not created by useradd), no login shell. An existing account is
// left exactly as it is. A program that fails raises std::runtime_error with
// its exit status and what it printed; a program that cannot be run at all
// ends the process through the function library's fork failure path.
#ifndef KORVO_SETUP_ACCOUNTSETUP_H
#define KORVO_SETUP_ACCOUNTSETUP_H

#include "setup/SetupReport.h"

#include <string>
#include <sys/types.h>
#include <vector>

namespace korvo::setup {

struct Account {
    uid_t uid;
    gid_t gid;
};

// The account's user and primary group; std::runtime_error when missing.
Account lookupAccount(const std::string& name);

void ensureMailAccount(const std::string& mailRoot, SetupReport& report);

// Runs a system program (argv[0] a path) with both output streams captured;
// std::runtime_error with its status and output when it fails.
void runAccountProgram(const std::vector<std::string>& argv);

} // namespace korvo::setup

#endif
