// A run killed at any system call (kill -9, the OOM killer) leaves no
// half-written file or temporary, and the next run works. strace, tracing
// the tool alone, kills it at its N-th system call for N spread over an
// undisturbed run; its children live on, as on a server.
#include "hardening/HardeningFixture.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace korvo::test {
namespace {

const char saved[] = "/mnt/vornctl-crash.tar";
const char trace[] = "/run/vornctl-sandbox/crash.trace";
const int killsPerCommand = 8;

// strace with these options, tracing the tool run with args.
std::vector<std::string> traced(std::vector<std::string> strace,
                                const std::vector<std::string>& args) {
    strace.insert(strace.begin(), "/usr/bin/strace");
    strace.push_back(VORNCTL_BINARY);
    strace.insert(strace.end(), args.begin(), args.end());
    return strace;
}

// Runs argv in a process group of its own and waits for the whole group:
// what the killed tool started finishes its work first.
int runGroup(std::vector<std::string> argv) {
    const std::vector<char*> args = pointers(argv);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setpgid(0, 0);
        const int null = ::open("/dev/null", O_RDWR);
        for (const int fd : {0, 1, 2})
            ::dup2(null, fd);
        // LeakSanitizer refuses to run under ptrace.
        ::setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    ::setpgid(pid, pid);
    int status = 0;
    ::waitpid(pid, &status, 0);
    waitUntil([pid] { return ::kill(-pid, 0) != 0; }, 15, std::chrono::milliseconds(5));
    return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
}

// The names of the tool's own system calls in an undisturbed run, in order.
std::vector<std::string> systemCalls(const std::vector<std::string>& args) {
    EXPECT_EQ(runGroup(traced({"-o", trace}, args)), 0) << args[0];
    std::vector<std::string> calls;
    for (const std::string& line : lines(readFile(trace)))
        if (line.rfind("---", 0) != 0 && line.rfind("+++", 0) != 0)
            calls.push_back(line.substr(0, line.find('(')));
    return calls;
}

class CrashTest : public HardeningTest {};

TEST_F(CrashTest, KilledRunsLeaveNoHalfWrittenFileAndTheNextRunWorks) {
    addMailbox();
    serveDomain("other.test");
    serveMailname("other.test", "box");
    // Reloads that succeed at once keep the runs short; no test here needs a running Postfix.
    ASSERT_EQ(shell(sandboxFile("postfix-standin") + " on"), 0);
    // The prepared state is saved once and put back before every run.
    std::string roots;
    for (const std::string& root : snapshotRoots())
        roots += " " + root.substr(1);
    ASSERT_EQ(shell("tar -C / -cpf " + std::string(saved) + roots), 0);
    const auto restore = [&] {
        ASSERT_EQ(shell("cd / && find" + roots + " -mindepth 1 -delete && tar -xpf " + saved), 0);
    };
    const std::vector<std::vector<std::string>> commands = {
        {"--add-mailname", "--domain-name=main.test", "--mailname=fresh", "--disk-quota=5000"},
        {"--remove-mailname", "--domain-name=main.test", "--mailname=info"},
        {"--rename-mailname", "--domain-name=main.test", "--old-mailname=info",
         "--new-mailname=renamed"},
        {"--add-alias", "--domain-name=main.test", "--mailname=info", "--alias=other"},
        {"--add-redirect", "--domain-name=main.test", "--mailname=info",
         "--redirect-email=second@example.org"},
        {"--set-mailbox-disk-quota", "--domain-name=main.test", "--mailname=info",
         "--disk-quota=200000"},
        {"--remove-domain", "--domain-name=other.test"},
        {"--set-mail-params", "--relayclient", "--popauth", "--poplock-time=60"},
        {"--enable-message-submission"},
    };
    for (const auto& args : commands) {
        restore();
        const std::vector<std::string> calls = systemCalls(args);
        for (int i = 0; i < killsPerCommand; ++i) {
            restore();
            // The n-th call overall is the k-th call of its name, which strace counts.
            const std::size_t n = 1 + (calls.size() - 2) * (2 * i + 1) / (2 * killsPerCommand);
            const auto k = std::count(calls.begin(), calls.begin() + n + 1, calls[n]);
            const std::string where = args[0] + " killed at system call " + std::to_string(n) +
                                      " (" + calls[n] + " #" + std::to_string(k) + ")";
            runGroup(traced({"-o", "/dev/null", "-e",
                                 "inject=" + calls[n] + ":signal=KILL:when=" + std::to_string(k)},
                                args));
            std::vector<std::string> found = damage();
            // Between the link of a finished unnamed file and its rename the
            // kernel offers no single step: a kill there leaves the complete
            // new content under its temporary name, which the next run of the
            // command removes (checked below).
            if (calls[n] == "rename" && calls[n - 1] == "linkat" && found.size() == 1 &&
                found[0].rfind(".tmp") == found[0].size() - 4)
                found.clear();
            EXPECT_TRUE(found.empty()) << where << "\n" << testing::PrintToString(found);
            // Another change succeeds, and so does the killed command run again.
            const CommandResult next =
                runVornctl({"--add-mailname", "--domain-name=main.test", "--mailname=next"});
            EXPECT_EQ(next.status, 0) << where << "\n" << next.err;
            const CommandResult again = runVornctl(args);
            EXPECT_EQ(again.status, 0) << where << ", run again: " << again.err;
            const std::vector<std::string> after = damage();
            EXPECT_TRUE(after.empty()) << where << ", run again\n" << testing::PrintToString(after);
        }
    }
}

} // namespace
} // namespace korvo::test
