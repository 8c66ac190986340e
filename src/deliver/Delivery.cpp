#include "deliver/Delivery.h"

#include "deliver/DeliveryFailure.h"
#include "deliver/MaildirDelivery.h"
#include "utils/FdOwner.h"
#include "utils/ForkExec.h"

#include <cerrno>
#include <cstdlib>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

namespace korvo::deliver {

namespace {

// Waits for the child; its wait status.
int waitFor(pid_t child) {
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR)
            deferDelivery("cannot wait for a child process");
    }
    return status;
}

// Runs path with argv, the message on its standard input and the agent's
// own output streams; its wait status.
int runWithMessage(const SpooledMessage& message, const char* path,
                   const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const std::string& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    const FdOwner reader(message.openReader());
    return waitFor(fork_execv_pipes(reader.get(), 1, 2, path, args.data()));
}

std::string describeStatus(int status) {
    return WIFEXITED(status) ? "exit status " + std::to_string(WEXITSTATUS(status))
                             : "signal " + std::to_string(WTERMSIG(status));
}

} // namespace

ProgramVerdict judgeExitStatus(int exitStatus) {
    switch (exitStatus) {
    case 0:
        return ProgramVerdict::Continue;
    case 99:
        return ProgramVerdict::Stop;
    case 64:
    case 65:
    case 70:
    case 76:
    case 77:
    case 78:
    case 100:
    case 112:
        return ProgramVerdict::Bounce;
    default:
        return ProgramVerdict::Defer;
    }
}

Delivery::Delivery(const SpooledMessage& message, const Envelope& envelope, int homeFd,
                   const std::string& home)
    : message_(message), envelope_(envelope), homeFd_(homeFd), home_(home) {}

void Delivery::exportEnvironment() const {
    const std::string::size_type at = envelope_.recipient.rfind('@');
    const struct passwd* account = ::getpwuid(::getuid());
    ::setenv("SENDER", envelope_.sender.c_str(), 1);
    ::setenv("RECIPIENT", envelope_.recipient.c_str(), 1);
    ::setenv("LOCAL", envelope_.recipient.substr(0, at).c_str(), 1);
    ::setenv("HOST", at == std::string::npos ? "" : envelope_.recipient.substr(at + 1).c_str(), 1);
    ::setenv("HOME", home_.c_str(), 1);
    ::setenv("USER", account != nullptr ? account->pw_name : "", 1);
    ::setenv("RPLINE", ("Return-Path: <" + envelope_.sender + ">\n").c_str(), 1);
    ::setenv("DTLINE", ("Delivered-To: " + envelope_.recipient + "\n").c_str(), 1);
    ::setenv("PATH", "/usr/local/bin:/usr/bin:/bin", 0);
}

bool Delivery::runProgram(const std::string& command) {
    const int status = runWithMessage(message_, "/bin/sh", {"sh", "-c", command});
    const std::string what = "program \"" + command + "\" ended with " + describeStatus(status);
    if (!WIFEXITED(status))
        deferDelivery(what);
    switch (judgeExitStatus(WEXITSTATUS(status))) {
    case ProgramVerdict::Continue:
        return false;
    case ProgramVerdict::Stop:
        return true;
    case ProgramVerdict::Bounce:
        bounceDelivery(what);
    case ProgramVerdict::Defer:
        break;
    }
    deferDelivery(what);
}

void Delivery::forward(const std::vector<std::string>& addresses) {
    std::vector<std::string> argv = {"sendmail", "-i", "-f",
                                     envelope_.sender.empty() ? "<>" : envelope_.sender, "--"};
    argv.insert(argv.end(), addresses.begin(), addresses.end());
    const int status = runWithMessage(message_, SENDMAIL, argv);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        deferDelivery("forwarding through " + std::string(SENDMAIL) + " ended with " +
                      describeStatus(status));
}

void Delivery::carryOut(const std::vector<Instruction>& instructions) {
    exportEnvironment();
    std::vector<std::string> forwards;
    for (const Instruction& instruction : instructions) {
        if (instruction.kind == Instruction::Forward) {
            forwards.push_back(instruction.text);
        } else if (instruction.kind == Instruction::Maildir) {
            deliverToMaildir(homeFd_, home_, instruction.text, message_);
        } else if (runProgram(instruction.text)) {
            break;
        }
    }
    if (!forwards.empty())
        forward(forwards);
}

} // namespace korvo::deliver
