// A walk over the process table in /proc.
//
// iterateProcesses hands the callback one KorvoProcessInfo per process,
// filled with what the flags ask for; fields not asked for are -1 or null.
// The strings and the argument vector are valid only during the callback.
// Processes come and go during the walk: one that vanishes or cannot be read
// is skipped silently, and so is one whose short name holds a blank (the
// name is read as one word from /proc/PID/stat). A process without a
// readable executable link (kernel threads) is skipped when the executable
// is asked for.
//
// The Postfix service control finds the queue manager with it: flags
// KORVO_PROCESS_INFO_GET_PPID | KORVO_PROCESS_INFO_GET_PROCNAME, a callback
// that returns 0 for the child named "qmgr" of the master's pid.
#ifndef KORVO_UTILS_PROCESSITERATION_H
#define KORVO_UTILS_PROCESSITERATION_H

#include <sys/types.h>

enum {
    KORVO_PROCESS_INFO_GET_PPID = 1,
    KORVO_PROCESS_INFO_GET_PROCNAME = 2,
    KORVO_PROCESS_INFO_GET_EXENAME = 4,
    KORVO_PROCESS_INFO_GET_ARGV = 8,
    KORVO_PROCESS_INFO_GET_UID = 16,
    KORVO_PROCESS_INFO_GET_GID = 32,
};

struct KorvoProcessInfo {
    pid_t pid;
    pid_t ppid;
    uid_t ruid;
    gid_t rgid;
    uid_t euid;
    gid_t egid;
    uid_t suid;
    gid_t sgid;
    const char* procname;    // short command name
    const char* const* argv; // null-terminated
    const char* exename;     // path of the executable
};

// A positive result goes on with the walk; 0 or less stops it.
using visitProcessInfoFunc = int (*)(KorvoProcessInfo* info, void* context);

// The last callback result (1 when no callback ran), or -1 when /proc cannot
// be opened (logged at LOG_LEVEL_ERROR).
int iterateProcesses(int flags, visitProcessInfoFunc callback, void* context);

#endif
