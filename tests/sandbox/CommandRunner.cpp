#include "sandbox/CommandRunner.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace korvo::test {

namespace {

// An unlinked temporary file that collects one stream of the child.
struct Capture {
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file{std::tmpfile(), std::fclose};
    int fd() const {
        if (!file)
            throw std::runtime_error("tmpfile failed");
        return ::fileno(file.get());
    }
    std::string text() const {
        std::string all(static_cast<std::size_t>(::lseek(fd(), 0, SEEK_END)), '\0');
        if (::pread(fd(), all.data(), all.size(), 0) != static_cast<ssize_t>(all.size()))
            throw std::runtime_error("cannot read a captured stream");
        return all;
    }
};

} // namespace

std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> result;
    for (auto& s : strings)
        result.push_back(s.data());
    result.push_back(nullptr);
    return result;
}

CommandResult runCommand(const std::vector<std::string>& argv,
                         const std::vector<std::string>& extraEnv, const std::string& stdinText) {
    Capture in, out, err;
    if (::write(in.fd(), stdinText.data(), stdinText.size()) !=
        static_cast<ssize_t>(stdinText.size()))
        throw std::runtime_error("cannot stage standard input");
    ::lseek(in.fd(), 0, SEEK_SET);

    std::vector<std::string> args(argv), env(extraEnv);
    // An extra entry replaces the inherited one of the same name.
    for (char** e = environ; *e != nullptr; ++e)
        if (std::none_of(extraEnv.begin(), extraEnv.end(), [e](const std::string& extra) {
                return std::strncmp(*e, extra.c_str(), extra.find('=') + 1) == 0;
            }))
            env.emplace_back(*e);
    std::vector<char*> argp = pointers(args);
    std::vector<char*> envp = pointers(env);

    const pid_t pid = ::fork();
    if (pid < 0)
        throw std::runtime_error("fork failed");
    if (pid == 0) {
        ::dup2(in.fd(), 0);
        ::dup2(out.fd(), 1);
        ::dup2(err.fd(), 2);
        ::execve(argp[0], argp.data(), envp.data());
        ::_exit(127);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0)
        if (errno != EINTR)
            throw std::runtime_error("waitpid failed");
    CommandResult result;
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.out = out.text();
    result.err = err.text();
    return result;
}

CommandResult runVornctl(const std::vector<std::string>& args,
                         const std::vector<std::string>& extraEnv) {
    std::vector<std::string> argv{VORNCTL_BINARY};
    argv.insert(argv.end(), args.begin(), args.end());
    return runCommand(argv, extraEnv);
}

} // namespace korvo::test
