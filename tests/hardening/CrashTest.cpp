// A run of the tool can die at any moment: the panel's time-out, an
// operator's kill -9, the OOM killer. Whatever it was doing, no file it
// writes may be left half-written, no temporary may stay beside one, and
// the next run must work.
//
// Each writing command is first run undisturbed to measure how long it
// takes; then, from the same starting state each time, it is killed with
// SIGKILL at spread fractions of that time. Its children (postmap, postconf,
// init scripts) are not killed, as they would not be on a real server; the
// checks wait until the whole process group is gone.
#include "hardening/HardeningFixture.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace korvo::test {
namespace {

using Clock = std::chrono::steady_clock;

// Starts the built tool in a process group of its own, output discarded.
pid_t startVornctl(const std::vector<std::string>& args) {
    std::vector<std::string> words{VORNCTL_BINARY};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setpgid(0, 0);
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, 0);
        ::dup2(null, 1);
        ::dup2(null, 2);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::setpgid(pid, pid);
    return pid;
}

// Waits until no process of the group is left (children outlive the run).
void awaitGroup(pid_t group) {
    for (int i = 0; i < 3000 && ::kill(-group, 0) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

// The exit status of the run, or -signal when it was killed.
int reap(pid_t pid) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
}

class CrashTest : public HardeningTest {
protected:
    // The state every kill starts from: two domains, a mailname with its
    // mailbox, a forward and a quota.
    void prepare() {
        HardeningTest::SetUp();
        addDomain("main.test");
        addDomain("other.test");
        addMailname("main.test", "info");
        addMailname("other.test", "box");
        vornctl({"--add-mailbox", "--domain-name=main.test", "--mailname=info"});
        vornctl({"--add-redirect", "--domain-name=main.test", "--mailname=info",
                 "--redirect-email=first@example.org"});
        vornctl({"--set-mailbox-disk-quota", "--domain-name=main.test", "--mailname=info",
                 "--disk-quota=100000"});
    }

    // Kills one run of args after delay; returns the run's status.
    int killAfter(const std::vector<std::string>& args, std::chrono::microseconds delay) {
        const pid_t pid = startVornctl(args);
        std::this_thread::sleep_for(delay);
        ::kill(pid, SIGKILL);
        const int status = reap(pid);
        awaitGroup(pid);
        return status;
    }
};

TEST_F(CrashTest, KilledRunsLeaveNoHalfWrittenFileAndTheNextRunWorks) {
    // Each command with the points, as fractions of its undisturbed run
    // time, at which it is killed. --set-mail-params spends almost all its
    // time in the Courier and Postfix restarts after it wrote its files, so
    // its points lie in its first milliseconds.
    const std::vector<std::pair<std::vector<std::string>, std::vector<double>>> commands = {
        {{"--add-mailname", "--domain-name=main.test", "--mailname=fresh", "--disk-quota=5000"},
         {0.1, 0.3, 0.55, 0.8}},
        {{"--remove-mailname", "--domain-name=main.test", "--mailname=info"},
         {0.1, 0.3, 0.55, 0.8}},
        {{"--rename-mailname", "--domain-name=main.test", "--old-mailname=info",
          "--new-mailname=renamed"},
         {0.1, 0.3, 0.55, 0.8}},
        {{"--add-alias", "--domain-name=main.test", "--mailname=info", "--alias=other"},
         {0.1, 0.3, 0.55, 0.8}},
        {{"--add-redirect", "--domain-name=main.test", "--mailname=info",
          "--redirect-email=second@example.org"},
         {0.1, 0.3, 0.55, 0.8}},
        {{"--set-mailbox-disk-quota", "--domain-name=main.test", "--mailname=info",
          "--disk-quota=200000"},
         {0.1, 0.3, 0.55, 0.8}},
        {{"--remove-domain", "--domain-name=other.test"}, {0.1, 0.3, 0.55, 0.8}},
        {{"--set-mail-params", "--relayclient", "--popauth", "--poplock-time=60"},
         {0.001, 0.004, 0.008}},
        {{"--enable-message-submission"}, {0.05, 0.2, 0.5}},
    };
    int kills = 0;
    int diedEarly = 0;
    int damaged = 0;
    for (const auto& [args, fractions] : commands) {
        prepare();
        const auto start = Clock::now();
        const int undisturbed = reap(startVornctl(args));
        const auto took =
            std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start);
        for (const double fraction : fractions) {
            prepare();
            const auto delay =
                std::chrono::microseconds(static_cast<long>(took.count() * fraction));
            const std::string where =
                args[0] + " killed after " + std::to_string(delay.count()) + " us";
            const int status = killAfter(args, delay);
            ++kills;
            diedEarly += status == -SIGKILL ? 1 : 0;
            const std::vector<std::string> found = damage();
            damaged += found.empty() ? 0 : 1;
            EXPECT_TRUE(found.empty()) << where << "\n" << testing::PrintToString(found);
            // The next run works: another change succeeds, and the killed
            // command run again ends with a status and message of its own
            // (a rename whose mail home already moved cannot be repeated).
            const CommandResult next =
                runVornctl({"--add-mailname", "--domain-name=main.test", "--mailname=next"});
            EXPECT_EQ(next.status, 0) << where << "\n" << next.err;
            if (took > std::chrono::seconds(1))
                continue;
            const CommandResult again = runVornctl(args);
            EXPECT_TRUE(again.status == undisturbed || (again.status == 1 && !again.err.empty()))
                << where << ", run again: " << again.status << " " << again.err;
            const std::vector<std::string> after = damage();
            EXPECT_TRUE(after.empty()) << where << ", run again\n" << testing::PrintToString(after);
        }
        std::printf("crash: %s undisturbed %ld us, status %d\n", args[0].c_str(),
                    static_cast<long>(took.count()), undisturbed);
    }
    std::printf("crash: %d kills, %d before the run ended, %d left damage\n", kills, diedEarly,
                damaged);
}

} // namespace
} // namespace korvo::test
