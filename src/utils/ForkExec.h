// Running other programs from the function library, with their output
// captured into heap buffers.
//
// Every runner starts the child through the tool's one child core
// (utils/ChildCore.h): the child gets its standard streams, every other
// descriptor is closed in it and the program is executed by path (no PATH
// search). A child that cannot set up its streams or execute the program
// exits with status 255, and why ("fork_execv: execv(\"PATH\") failed:
// ...") is written where its standard error was to go. The capturing
// runners read both pipes without blocking, so a child that fills one pipe
// while the parent waits on the other cannot stall; a child that exits while
// something it started keeps its output open is noticed within about a
// second. They return the child's exit status, or -1 when it was killed by a
// signal or could not be waited for, and never leave a child unwaited. They
// wait for their own child by its pid only, so they also work inside a
// receiver or feeder of a running process-layer Pipe.
//
// Failures the tool cannot go on from (fork, pipe or memory exhaustion) end
// the process through messlog2. Captured buffers are NUL-terminated, come
// from malloc and belong to the caller (free); a stream that produced nothing
// yields null. Single-threaded use only.
#ifndef KORVO_UTILS_FORKEXEC_H
#define KORVO_UTILS_FORKEXEC_H

#include <sys/types.h>

// Starts path with argv; stdinFd, stdoutFd and stderrFd become the child's
// standard streams (the stream's own number leaves it unchanged, -1 means
// "/dev/null"). Returns the child's pid once it has exec'd (or failed to),
// without waiting for it to end; the caller reaps it.
pid_t fork_execv_pipes(int stdinFd, int stdoutFd, int stderrFd, const char* path,
                       char* const argv[]);

// Standard input inherited; standard output into out, standard error into err.
int fork_execv_getouterr(char** out, char** err, const char* path, char* const argv[]);

// Standard output into out; standard input and error inherited.
int fork_execv_getout(char** out, const char* path, char* const argv[]);

// As fork_execv_getout, the arguments listed after path and ended by null.
int fork_execl_getout(char** out, const char* path, const char* arg0, ...)
    __attribute__((sentinel));

// Runs with both streams captured. Unless quiet, a non-zero status copies
// the captured output to standard error and reports the captured errors
// through messlog2 (without ending the process). Returns the status.
int fork_execv_log(const char* path, char* const argv[], int quiet);

#endif
