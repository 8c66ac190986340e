#include "deliver/Delivery.h"

#include "deliver/DeliveryFailure.h"
#include "deliver/MaildirDelivery.h"
#include "utils/ChildCore.h"
#include "utils/FdOwner.h"
#include "utils/QuotedAddress.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace korvo::deliver {

namespace {

const char* const SHELL = "/bin/sh";
const char* const COURIER_DELIVERQUOTA = "/usr/sbin/deliverquota.maildrop";
const char* const BLANKS = " \t";
// Characters that mean nothing to the shell outside quotes, variables and
// globs; a command made of them alone runs the same without one.
const char* const PLAIN_CHARACTERS = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                     "0123456789/._+,:@%=- \t";

// Runs path with argv, the message on its standard input and the agent's
// own output streams; its wait status, or none when path is a file of no
// executable format (a script without "#!", which only a shell runs). A
// process that cannot be started (no process slot, no descriptor, no
// memory) raises korvo::SystemError, which defers the delivery like any
// failure of the agent itself; a program that cannot be executed defers.
std::optional<int> runWithMessage(const SpooledMessage& message, const char* path,
                                  const std::vector<std::string>& argv) {
    std::vector<const char*> args;
    for (const std::string& arg : argv)
        args.push_back(arg.c_str());
    args.push_back(nullptr);
    const FdOwner reader(message.openReader());
    ChildPlan plan;
    plan.argv = args.data();
    plan.file = path;
    plan.closeDescriptors = true;
    plan.stdio[0] = reader.get();
    plan.stdio[1] = STDOUT_FILENO;
    plan.stdio[2] = STDERR_FILENO;
    ChildProcess child(plan, std::string("start ") + path);
    if (const std::optional<ChildError> error = child.waitExec()) {
        child.wait();
        if (error->code == ENOEXEC)
            return std::nullopt;
        deferDelivery(std::string("cannot run ") + path + ": " + error->message +
                      (error->code != 0 ? std::string(": ") + std::strerror(error->code) : ""));
    }
    return child.wait();
}

// The words of a command the shell would run as one program found by its
// path, with nothing to expand; none when it needs the shell.
std::vector<std::string> plainCommandWords(const std::string& command) {
    std::vector<std::string> words;
    if (command.find_first_not_of(PLAIN_CHARACTERS) != std::string::npos)
        return words;
    for (std::string::size_type start = command.find_first_not_of(BLANKS);
         start != std::string::npos; start = command.find_first_not_of(BLANKS, start)) {
        const std::string::size_type end = command.find_first_of(BLANKS, start);
        words.push_back(command.substr(start, end - start));
        start = end;
    }
    if (words.empty() || words.front()[0] != '/')
        words.clear();
    return words;
}

// The Maildir of a "deliverquota ./Maildir" command whose program is
// Courier's deliverquota (by way of any link); "" for every other command.
std::string courierDeliverquotaMaildir(const std::vector<std::string>& words) {
    struct stat named {};
    struct stat courier {};
    if (words.size() != 2 || ::stat(words[0].c_str(), &named) != 0 ||
        ::stat(COURIER_DELIVERQUOTA, &courier) != 0 || named.st_dev != courier.st_dev ||
        named.st_ino != courier.st_ino)
        return "";
    return maildirBelowHome(words[1]);
}

bool isTrue(const std::string& command) {
    const std::string::size_type start = command.find_first_not_of(BLANKS);
    return start != std::string::npos && command.compare(start, std::string::npos, "true") == 0;
}

std::string describeStatus(int status) {
    return WIFEXITED(status) ? "exit status " + std::to_string(WEXITSTATUS(status))
                             : "signal " + std::to_string(WTERMSIG(status));
}

} // namespace

std::string firstMaildir(const std::vector<Instruction>& instructions) {
    for (const Instruction& instruction : instructions) {
        if (instruction.kind == Instruction::Maildir)
            return instruction.text;
        const std::string maildir = instruction.kind == Instruction::Program
                                        ? courierDeliverquotaMaildir(
                                              plainCommandWords(instruction.text))
                                        : "";
        if (!maildir.empty())
            return maildir;
    }
    return "";
}

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
    // "| true", on every line the tool writes, is the shell's builtin: it
    // reads nothing and succeeds, so no process is started for it. Courier's
    // deliverquota on a Maildir of the home is carried out here, with the
    // same quota rules, sparing a second program per message. Any other
    // plain command line runs without the shell in between.
    if (isTrue(command))
        return false;
    const std::vector<std::string> words = plainCommandWords(command);
    const std::string maildir = courierDeliverquotaMaildir(words);
    if (!maildir.empty()) {
        deliverToMaildir(homeFd_, home_, maildir, message_);
        return false;
    }
    std::optional<int> ran;
    if (!words.empty())
        ran = runWithMessage(message_, words.front().c_str(), words);
    if (!ran)
        ran = runWithMessage(message_, SHELL, {"sh", "-c", command});
    if (!ran)
        deferDelivery(std::string("cannot execute ") + SHELL);
    const int status = *ran;
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
    // The sender in Postfix's unquoted form would reach sendmail cut short.
    std::vector<std::string> argv = {
        "sendmail", "-i", "-f", envelope_.sender.empty() ? "<>" : quotedAddress(envelope_.sender),
        "--"};
    argv.insert(argv.end(), addresses.begin(), addresses.end());
    const std::optional<int> status = runWithMessage(message_, SENDMAIL, argv);
    if (!status)
        deferDelivery(std::string("cannot execute ") + SENDMAIL);
    if (!WIFEXITED(*status) || WEXITSTATUS(*status) != 0)
        deferDelivery("forwarding through " + std::string(SENDMAIL) + " ended with " +
                      describeStatus(*status));
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
