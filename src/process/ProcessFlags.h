// Settings of a pipe and of each process in it.
//
// CommonFlags are shared by a pipe and its processes: a pipe hands its own
// values down to every process that left the field unset (Pipe::run).
// PipeProcessFlags add what only a single process has: the program file.
#ifndef KORVO_PROCESS_PROCESSFLAGS_H
#define KORVO_PROCESS_PROCESSFLAGS_H

#include "process/Channel.h"

#include <boost/function.hpp>
#include <string>

namespace korvo::process {

struct CommonFlags {
    // Empty: the child stays in the parent's directory.
    std::string workingDirectory;
    // Null-terminated NAME=value array; null keeps the parent's environment.
    char const* const* environment = nullptr;
    // Close every descriptor above stderr in the child before exec.
    bool closeDescriptors = false;
    // Runs in the child just before exec; what it throws reaches the parent.
    boost::function<void()> preExec;
    OutputChannel stderrChannel;
    // Called with the process's index in its pipe and its wait status once
    // it has terminated.
    boost::function<void(unsigned long, int)> exitCallback;
};

struct PipeProcessFlags : CommonFlags {
    // The program file; empty: the first argument names it.
    std::string executable;
};

} // namespace korvo::process

#endif
