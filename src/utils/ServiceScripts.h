// Driving services through their init scripts.
//
// restart_daemon finds the init script of a service under /etc/init.d (the
// plain name, else the name with ".sh") and runs it with an action: "start",
// "stop", "restart", "reload" or "status". The script runs in its own
// session, in its own directory, with standard input and output on
// /dev/null and standard error shared with the tool; the caller waits for
// it (by its pid, through the tool's child core, utils/ChildCore.h). Only
// the exit status counts: 0 is success (for "status": running), anything
// else -1. A script that stops instead of ending is reported, then
// terminated and reaped, so no child is left behind.
//
// Setting NO_RESTART_DAEMON in the utility configuration turns
// restart_daemon into a no-op that succeeds. The panel's web server, servlet
// container and CF services need special handling this program does not
// have; they are refused with a message. Failures are reported through
// messlog2; a script that is missing or not a regular file when handed to
// rc_script_gen ends the process with status 1.
#ifndef KORVO_UTILS_SERVICESCRIPTS_H
#define KORVO_UTILS_SERVICESCRIPTS_H

// 0 on success, -1 on failure.
int restart_daemon(const char* service, const char* action);

// rc_script_gen(script, script, action, 1).
int rc_script(const char* script, const char* action);

// Runs script with the argument vector {name, action} (found through PATH
// when script holds no "/"); "graceful" becomes "restart" unless
// httpd2-prefork is running. With verbose 0, or for "status", a non-zero
// exit status gives -1 without a message. 0 on success, -1 on failure.
int rc_script_gen(const char* script, const char* name, const char* action, int verbose);

// Completes a status line: "is running" (0), "is stopped" (positive) or
// "internal error" (negative, which also gives -1).
int print_status(int result);

#endif
