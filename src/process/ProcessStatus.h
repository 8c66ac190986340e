// What is known about one child of a pipe: whether it has been reaped and
// its wait status (-1 until known). Written by the SIGCHLD handler, read by
// the pipe's loop.
#ifndef KORVO_PROCESS_PROCESSSTATUS_H
#define KORVO_PROCESS_PROCESSSTATUS_H

namespace korvo::process {

struct ProcessStatus {
    int finished; // 0 or 1
    int status;   // wait status as from waitpid, -1 until known
};

} // namespace korvo::process

#endif
