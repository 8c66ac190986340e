#include "handlers/HandlerRunner.h"

#include "utils/ChildCore.h"
#include "utils/Exceptions.h"
#include "utils/UnnamedFile.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace korvo::handlers {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t ANSWER_LIMIT = 512;
constexpr int REPLACEMENT_FD = 3;
constexpr auto REAP_POLL = std::chrono::milliseconds(2);

struct HandlerResult {
    int status = 0; // exit status when exited
    bool exited = false;
    std::string why; // for anything but a normal exit
    std::string answer;
};

std::vector<std::string> handlerEnvironment(const Handler& handler, const std::string& hook,
                                            const MessageParties& parties) {
    std::vector<std::string> env;
    for (char** entry = environ; *entry != nullptr; ++entry)
        if (std::strncmp(*entry, "HANDLER_", 8) != 0)
            env.emplace_back(*entry);
    std::string recipients;
    for (const std::string& recipient : parties.recipients)
        recipients += (recipients.empty() ? "" : "\n") + recipient;
    env.push_back("HANDLER_HOOK=" + hook);
    env.push_back("HANDLER_NAME=" + handler.name);
    env.push_back("HANDLER_CONTEXT=" + handler.context);
    env.push_back("HANDLER_SENDER=" + parties.sender);
    env.push_back("HANDLER_RECIPIENTS=" + recipients);
    return env;
}

std::vector<const char*> pointers(const std::vector<std::string>& strings) {
    std::vector<const char*> result;
    for (const std::string& text : strings)
        result.push_back(text.c_str());
    result.push_back(nullptr);
    return result;
}

// The first line of what the handler printed, without control characters.
std::string answerLine(const std::string& output) {
    std::string line = output.substr(0, output.find('\n'));
    line.erase(std::remove_if(line.begin(), line.end(),
                              [](unsigned char c) { return c < 0x20 || c == 0x7f; }),
               line.end());
    return line;
}

// Reads the child's output until it closes it or the deadline passes;
// false at the deadline.
bool collectOutput(int fd, Clock::time_point deadline, std::string& output) {
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return false;
        pollfd watched{fd, POLLIN, 0};
        const int ready = ::poll(&watched, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
            throwSystemError("poll a handler's output", errno);
        if (ready == 0)
            return false;
        char buffer[4096];
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return true;
        if (output.size() < ANSWER_LIMIT)
            output.append(buffer,
                          std::min(static_cast<std::size_t>(got), ANSWER_LIMIT - output.size()));
    }
}

bool reapBefore(ChildProcess& child, Clock::time_point deadline, int& status) {
    while (!child.tryWait(status)) {
        if (Clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(REAP_POLL);
    }
    return true;
}

HandlerResult runOne(const Handler& handler, const std::string& hook, const MessageParties& parties,
                     int messageFd, int replacementFd, Clock::time_point deadline) {
    HandlerResult result;
    if (handler.executable.empty()) {
        result.why = "has no program (its executable link is missing)";
        return result;
    }
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0)
        throwSystemError("create a pipe for handler " + handler.name, errno);
    FdOwner outRead(pipeFds[0]);
    FdOwner outWrite(pipeFds[1]);
    const FdOwner input(reopenForReading(messageFd));
    const std::vector<std::string> env = handlerEnvironment(handler, hook, parties);
    const std::vector<const char*> envp = pointers(env);
    const std::vector<std::string> args = {handler.executable, hook};
    const std::vector<const char*> argv = pointers(args);

    ChildPlan plan;
    plan.file = handler.executable.c_str();
    plan.argv = argv.data();
    plan.envp = envp.data();
    plan.newSession = true; // its own process group, killed whole at the limit
    plan.stdio[0] = input.get();
    plan.stdio[1] = outWrite.get();
    plan.preExec = [replacementFd] {
        // dup2 onto itself would keep close-on-exec.
        const int moved = replacementFd == REPLACEMENT_FD ? ::fcntl(REPLACEMENT_FD, F_SETFD, 0)
                                                          : ::dup2(replacementFd, REPLACEMENT_FD);
        if (moved < 0)
            throwSystemError("replacement file on descriptor 3", errno);
    };
    ChildProcess child(plan, "fork for handler " + handler.name);
    outWrite.close();
    if (const std::optional<ChildError> error = child.waitExec()) {
        child.wait();
        result.why = "could not be started: " + error->message +
                     (error->code != 0 ? std::string(": ") + std::strerror(error->code) : "");
        return result;
    }
    std::string output;
    int status = 0;
    if (!collectOutput(outRead.get(), deadline, output) || !reapBefore(child, deadline, status)) {
        ::kill(-child.pid(), SIGKILL);
        child.wait();
        result.why = "ran past its time limit and was killed";
        return result;
    }
    result.answer = answerLine(output);
    if (WIFEXITED(status)) {
        result.exited = true;
        result.status = WEXITSTATUS(status);
    } else {
        result.why = "was killed by signal " + std::to_string(WTERMSIG(status));
    }
    return result;
}

off_t sizeOf(int fd) {
    struct stat status {};
    if (::fstat(fd, &status) != 0)
        throwSystemError("stat a replaced message", errno);
    return status.st_size;
}

} // namespace

ChainOutcome runHandlers(const std::vector<Handler>& handlers, const std::string& hook,
                         const MessageParties& parties, int messageFd, const RunLimits& limits) {
    ChainOutcome outcome;
    const Clock::time_point end = Clock::now() + limits.total;
    for (const Handler& handler : handlers) {
        const auto replacement =
            std::make_shared<FdOwner>(createUnnamedFile(limits.spoolDirectory));
        const int current = outcome.replacement ? outcome.replacement->get() : messageFd;
        const HandlerResult result = runOne(handler, hook, parties, current, replacement->get(),
                                            std::min(end, Clock::now() + limits.perHandler));
        outcome.handler = handler.name;
        outcome.answer = result.answer;
        if (!result.exited) {
            outcome.verdict = Verdict::Defer;
            outcome.answer = "handler " + handler.name + " " + result.why;
            return outcome;
        }
        if ((result.status == HANDLER_PASS || result.status == HANDLER_ACCEPT) &&
            sizeOf(replacement->get()) > 0)
            outcome.replacement = replacement;
        switch (result.status) {
        case HANDLER_PASS:
            continue;
        case HANDLER_ACCEPT:
            break;
        case HANDLER_REFUSE:
            outcome.verdict = Verdict::Refuse;
            return outcome;
        case HANDLER_DISCARD:
            outcome.verdict = Verdict::Discard;
            return outcome;
        default:
            outcome.verdict = Verdict::Defer;
            if (result.status != HANDLER_DEFER || outcome.answer.empty())
                outcome.answer = "handler " + handler.name + " ended with exit status " +
                                 std::to_string(result.status);
            return outcome;
        }
        break;
    }
    outcome.verdict = Verdict::Pass;
    outcome.handler.clear();
    outcome.answer.clear();
    return outcome;
}

} // namespace korvo::handlers
