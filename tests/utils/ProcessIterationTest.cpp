// Service control finds Postfix's queue manager by parent and name (tests/postfix/service);
// the same search must find a child of ours and fill only the fields asked for.
#include "utils/ProcessIteration.h"

#include <csignal>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct Search {
    const char* name;
    KorvoProcessInfo found{};
};

int findChild(KorvoProcessInfo* info, void* context) {
    auto& search = *static_cast<Search*>(context);
    if (info->ppid != ::getpid() || std::strcmp(info->procname, search.name) != 0)
        return 1;
    search.found = *info;
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
    const int asked = KORVO_PROCESS_INFO_GET_PPID | KORVO_PROCESS_INFO_GET_PROCNAME;
    Search search{"sleep"};
    EXPECT_EQ(iterateProcesses(asked, findChild, &search), 0);
    EXPECT_EQ(search.found.pid, child);
    EXPECT_EQ(search.found.ruid, static_cast<uid_t>(-1));
    EXPECT_EQ(search.found.argv, nullptr);
    Search absent{"qmgr"};
    EXPECT_EQ(iterateProcesses(asked, findChild, &absent), 1) << "a search that found nothing";
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
}

} // namespace
