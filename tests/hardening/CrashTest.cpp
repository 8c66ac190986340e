// A run killed at any moment (time-out, kill -9, OOM) leaves no half-written
// file or temporary, and the next run works. Each command is killed at spread
// fractions of its undisturbed run time; its children live on, as on a server.
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

void awaitGroup(pid_t group) {
    for (int i = 0; i < 3000 && ::kill(-group, 0) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

int reap(pid_t pid) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
}

class CrashTest : public HardeningTest {
protected:
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
    // --set-mail-params writes its files in its first milliseconds, then restarts services.
    const std::vector<double> spread{0.1, 0.3, 0.55, 0.8};
    const std::vector<std::pair<std::vector<std::string>, std::vector<double>>> commands = {
        {{"--add-mailname", "--domain-name=main.test", "--mailname=fresh", "--disk-quota=5000"},
         spread},
        {{"--remove-mailname", "--domain-name=main.test", "--mailname=info"}, spread},
        {{"--rename-mailname", "--domain-name=main.test", "--old-mailname=info",
          "--new-mailname=renamed"},
         spread},
        {{"--add-alias", "--domain-name=main.test", "--mailname=info", "--alias=other"}, spread},
        {{"--add-redirect", "--domain-name=main.test", "--mailname=info",
          "--redirect-email=second@example.org"},
         spread},
        {{"--set-mailbox-disk-quota", "--domain-name=main.test", "--mailname=info",
          "--disk-quota=200000"},
         spread},
        {{"--remove-domain", "--domain-name=other.test"}, spread},
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
        EXPECT_EQ(reap(startVornctl(args)), 0) << args[0];
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
            // The next run works: another change succeeds, and so does the killed command again.
            const CommandResult next =
                runVornctl({"--add-mailname", "--domain-name=main.test", "--mailname=next"});
            EXPECT_EQ(next.status, 0) << where << "\n" << next.err;
            if (took > std::chrono::seconds(1))
                continue;
            const CommandResult again = runVornctl(args);
            EXPECT_EQ(again.status, 0) << where << ", run again: " << again.err;
            const std::vector<std::string> after = damage();
            EXPECT_TRUE(after.empty()) << where << ", run again\n" << testing::PrintToString(after);
        }
        std::printf("crash: %s undisturbed %ld us\n", args[0].c_str(),
                    static_cast<long>(took.count()));
    }
    std::printf("crash: %d kills, %d before the run ended, %d left damage\n", kills, diedEarly,
                damaged);
}

} // namespace
} // namespace korvo::test
