// The Postfix service control finds the queue manager as the child named
// "qmgr" of the master's pid; the same search must find a child of ours.
#include "utils/ProcessIteration.h"

#include <csignal>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

struct Search {
    const char* name;
    KorvoProcessInfo found{};
    std::vector<std::string> argv{};
    std::string exename{};
};

int findChild(KorvoProcessInfo* info, void* context) {
    auto& search = *static_cast<Search*>(context);
    if (info->ppid != ::getpid() || std::strcmp(info->procname, search.name) != 0)
        return 1;
    search.found = *info;
    for (const char* const* arg = info->argv; arg != nullptr && *arg != nullptr; ++arg)
        search.argv.emplace_back(*arg);
    search.exename = info->exename != nullptr ? info->exename : "";
    return 0;
}

TEST(ProcessIterationTest, FindsOurChildByParentAndNameAndFillsOnlyWhatIsAsked) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::execl("/bin/sleep", "sleep", "30", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::usleep(200000); // let the exec happen, so the name is "sleep"
    Search search{"sleep"};
    EXPECT_EQ(iterateProcesses(KORVO_PROCESS_INFO_GET_PPID | KORVO_PROCESS_INFO_GET_PROCNAME,
                               findChild, &search),
              0);
    EXPECT_EQ(search.found.pid, child);
    EXPECT_EQ(search.found.ruid, static_cast<uid_t>(-1));
    EXPECT_EQ(search.found.argv, nullptr);
    Search full{"sleep"};
    EXPECT_EQ(iterateProcesses(63, findChild, &full), 0);
    EXPECT_EQ(full.argv, (std::vector<std::string>{"sleep", "30"}));
    EXPECT_EQ(full.exename, "/usr/bin/sleep");
    EXPECT_EQ(full.found.euid, ::geteuid());
    Search absent{"qmgr"};
    EXPECT_EQ(iterateProcesses(3, findChild, &absent), 1) << "a search that found nothing";
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
}

} // namespace
