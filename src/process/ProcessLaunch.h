// Starting one child process, with errors between fork and exec carried
// back to the parent as exceptions.
//
// Process model. The constructor sets up the child's stdin, stdout and
// stderr as asked (see DescriptorSpec.h) and starts the child through the
// tool's one child core (utils/ChildCore.h); it returns in the parent at
// once. The child redirects its descriptors, changes directory, optionally
// closes every other descriptor and starts a new session, runs the optional
// hook and execs. If any of that fails, the child writes the exception as
// NUL-terminated records to the control pipe ("ET: " type, "EM: " message,
// "EC: " errno of a korvo::SystemError) and ends with _exit and 67
// (SystemError), 66 (another std::exception) or 65 (anything else). A successful exec closes the
// control pipe (close-on-exec). waitExec() reads that pipe to its end and
// rethrows what the child reported: korvo::SystemError with the child's
// message ("execv", "cwd chdir", ...) and errno, std::runtime_error with its
// text, a plain std::exception for other standard exceptions (the text is
// lost), std::bad_exception for an unknown type. waitExit() reaps the
// child and returns its raw wait status.
//
// Usage:
//   ProcessLaunch child(argv, "/bin/prog", nullptr, nullptr, false, false,
//                       false, {}, FD_DEVNULL, FD_PIPE, FD_INHERIT);
//   try { child.waitExec(); } catch (...) { child.waitExit(); throw; }
//   ...read child.stdoutFd()...
//   const int status = child.waitExit();
//
// Pitfalls.
// - Call waitExec() exactly once, before relying on the child's pipes, and
//   always reap with waitExit() (also after waitExec() threw: the child has
//   exited and is a zombie until then). The destructor only closes
//   descriptors; it neither signals nor waits.
// - Deadlock: a child writing to two pipes blocks as soon as the one that is
//   not being read fills up (64 KiB on Linux). Reading stdout to its end and
//   then stderr hangs with a chatty child; so does writing all of stdin
//   before reading any output. Use Pipe, which multiplexes all of them.
// - Between fork and exec the child runs the core's code and the hook; a
//   failing child ends with _exit, so neither the parent's exit handlers
//   nor its buffered output (stdio, korvo::uerr) run or come out in it.
// - The child inherits the parent's signal mask and ignored signals; the
//   parent's pipe ends are close-on-exec, so other children never hold them.
//
// Invalid specifications raise std::invalid_argument ("invalid FD for
// stdin", "... stdout", "... stderr") before anything is created; parent
// side failures raise korvo::SystemError ("stdin pipe", "pipe", ...).
#ifndef KORVO_PROCESS_PROCESSLAUNCH_H
#define KORVO_PROCESS_PROCESSLAUNCH_H

#include "process/DescriptorSpec.h"
#include "utils/FdOwner.h"

#include <boost/function.hpp>

namespace korvo::process {

class ProcessLaunch {
public:
    // argv and envp are null-terminated; envp and cwd may be null. Without
    // an environment, searchPath picks execvp over execv.
    ProcessLaunch(char const* const* argv, char const* file, char const* cwd,
                  char const* const* envp, bool closeDescriptors, bool searchPath, bool newSession,
                  const boost::function<void()>& preExec, int stdinSpec, int stdoutSpec,
                  int stderrSpec);
    ProcessLaunch(const ProcessLaunch&) = delete;
    ProcessLaunch& operator=(const ProcessLaunch&) = delete;

    // Returns once the child has exec'd; throws what the child reported.
    void waitExec();
    // Reaps the child; its raw wait status. korvo::SystemError "unable to
    // wait for child process exit" when waitpid fails.
    int waitExit();

    int getPid() const { return pid; }
    // The parent's ends of the pipes asked for with FD_PIPE (-1 otherwise).
    FdOwner& stdinFd() { return stdinEnd; }
    FdOwner& stdoutFd() { return stdoutEnd; }
    FdOwner& stderrFd() { return stderrEnd; }

private:
    int pid = -1;
    FdOwner stdinEnd;
    FdOwner stdoutEnd;
    FdOwner stderrEnd;
    FdOwner controlRead;
};

} // namespace korvo::process

#endif
