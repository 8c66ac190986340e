// Turns the description of one pipe process into a running ProcessLaunch.
//
// argv comes from the arguments; the program file is the executable or,
// when that is empty, the first argument, and it is searched in PATH
// unless it begins with "." or "/" (or an environment is given). The
// working directory, environment, close-descriptors flag and hook are
// passed on; no new session is started. stderr follows the process's own
// stderr channel (FD_UNSET meaning inherit). waitExec() is left to the
// caller. Failures are those of ProcessLaunch.
#ifndef KORVO_PROCESS_LAUNCHONE_H
#define KORVO_PROCESS_LAUNCHONE_H

#include "process/Parameters.h"
#include "process/ProcessLaunch.h"

#include <memory>

namespace korvo::process {

std::unique_ptr<ProcessLaunch> launchOne(const Parameters<PipeProcessFlags>& parameters,
                                         int stdinSpec, int stdoutSpec);

} // namespace korvo::process

#endif
