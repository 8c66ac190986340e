// Runs a program and keeps its standard output, standard error and status.
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

// The execv() form of strings: their data, then a null pointer.
std::vector<char*> pointers(std::vector<std::string>& strings);

// Runs argv[0] (a path) with environ plus extraEnv ("NAME=value", replacing an
// inherited entry of that name) and stdinText.
CommandResult runCommand(const std::vector<std::string>& argv,
                         const std::vector<std::string>& extraEnv = {},
                         const std::string& stdinText = "");

// Runs the built vornctl with the given arguments.
CommandResult runVornctl(const std::vector<std::string>& args,
                         const std::vector<std::string>& extraEnv = {});

} // namespace korvo::test

#endif
