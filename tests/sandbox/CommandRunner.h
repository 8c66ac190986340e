// Runs a program as a test would from a shell and keeps what it did: its
// standard output, its standard error and its exit status, each on its own,
// so end-to-end tests can check them separately.
#ifndef KORVO_TESTS_COMMANDRUNNER_H
#define KORVO_TESTS_COMMANDRUNNER_H

#include <string>
#include <vector>

namespace korvo::test {

struct CommandResult {
    int status = -1; // exit status, or 128 + signal number
    std::string out;
    std::string err;
};

// Runs argv[0] (a path) with argv, an environment of environ plus extraEnv
// ("NAME=value" entries), and stdinText on its standard input.
CommandResult runCommand(const std::vector<std::string>& argv,
                         const std::vector<std::string>& extraEnv = {},
                         const std::string& stdinText = "");

// Runs the built vornctl with the given arguments.
CommandResult runVornctl(const std::vector<std::string>& args,
                         const std::vector<std::string>& extraEnv = {});

} // namespace korvo::test

#endif
