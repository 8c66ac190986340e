// Runs a piece of a test in several processes at once, as concurrent tool runs.
#ifndef KORVO_TESTS_POSTFIX_CONCURRENTRUNS_H
#define KORVO_TESTS_POSTFIX_CONCURRENTRUNS_H

#include <cstdio>
#include <exception>
#include <functional>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace korvo::test {

// Forks count children that start together and run run(index), leaving with
// _exit; true when none threw (failures go to stderr).
inline bool runConcurrently(int count, const std::function<void(int)>& run) {
    int start[2];
    if (::pipe(start) != 0)
        return false;
    std::vector<pid_t> children;
    for (int index = 0; index < count; ++index) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::close(start[1]);
            char go;
            while (::read(start[0], &go, 1) < 0) {
            }
            try {
                run(index);
            } catch (const std::exception& e) {
                std::fprintf(stderr, "run %d: %s\n", index, e.what());
                ::_exit(1);
            }
            ::_exit(0);
        }
        children.push_back(pid);
    }
    ::close(start[0]);
    ::close(start[1]);
    bool allPassed = true;
    for (const pid_t child : children) {
        int status = 0;
        allPassed = ::waitpid(child, &status, 0) == child && WIFEXITED(status) &&
                    WEXITSTATUS(status) == 0 && allPassed;
    }
    return allPassed;
}

} // namespace korvo::test

#endif
