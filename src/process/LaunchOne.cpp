#include "process/LaunchOne.h"

#include <stdexcept>
#include <vector>

namespace korvo::process {

namespace {

int inheritWhenUnset(int spec) {
    return spec == FD_UNSET ? FD_INHERIT : spec;
}

} // namespace

std::unique_ptr<ProcessLaunch> launchOne(const Parameters<PipeProcessFlags>& parameters,
                                         int stdinSpec, int stdoutSpec) {
    if (parameters.arguments.empty())
        throw std::invalid_argument("no program to launch");
    std::vector<char const*> argv;
    argv.reserve(parameters.arguments.size() + 1);
    for (const std::string& argument : parameters.arguments)
        argv.push_back(argument.c_str());
    argv.push_back(nullptr);
    const std::string& file =
        parameters.executable.empty() ? parameters.arguments.front() : parameters.executable;
    const bool searchPath = file.empty() || (file[0] != '.' && file[0] != '/');
    char const* const cwd =
        parameters.workingDirectory.empty() ? nullptr : parameters.workingDirectory.c_str();
    return std::make_unique<ProcessLaunch>(
        argv.data(), file.c_str(), cwd, parameters.environment, parameters.closeDescriptors,
        searchPath, false, parameters.preExec, inheritWhenUnset(stdinSpec),
        inheritWhenUnset(stdoutSpec), inheritWhenUnset(parameters.stderrChannel.fd));
}

} // namespace korvo::process
