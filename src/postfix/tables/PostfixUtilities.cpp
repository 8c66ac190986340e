#include "postfix/tables/PostfixUtilities.h"

#include "process/DescriptorSpec.h"
#include "process/Pipe.h"

#include <initializer_list>
#include <string>
#include <sys/wait.h>

namespace korvo::mail::postfix {

namespace utilities {

const char* const INIT_SCRIPT_ENVIRONMENT[] = {"LANG=C", nullptr};

ProcessParameters postmapAdd(const std::string& table) {
    return ProcessParameters::ofArguments(POSTMAP, {"-r", "-i", table});
}

ProcessParameters postmapReplace(const std::string& table) {
    return ProcessParameters::ofArguments(POSTMAP, {"-r", table});
}

ProcessParameters postmapRebuild(const std::string& table) {
    return ProcessParameters::ofArguments(POSTMAP, {table});
}

ProcessParameters postmapDelete(const std::string& key, const std::string& table) {
    return ProcessParameters::ofArguments(POSTMAP, {"-d", key, table});
}

ProcessParameters postmapDeleteListed(const std::string& table) {
    return ProcessParameters::ofArguments(POSTMAP, {"-d", "-", table});
}

ProcessParameters postmapDump(const std::string& table) {
    return ProcessParameters::ofArguments(POSTMAP, {"-s", table});
}

ProcessParameters postmapQuery(const std::string& key, const std::string& table) {
    return ProcessParameters::ofArguments(POSTMAP, {"-q", key, table});
}

ProcessParameters postconfValue(const std::string& name) {
    return ProcessParameters::ofArguments(POSTCONF, {"-h", name});
}

ProcessParameters postconfConfigured(const std::string& name) {
    return ProcessParameters::ofArguments(POSTCONF, {"-n", "-h", name});
}

ProcessParameters postconfDefault(const std::string& name) {
    return ProcessParameters::ofArguments(POSTCONF, {"-h", "-d", name});
}

ProcessParameters postconfSet(const std::string& name, const std::string& value) {
    return ProcessParameters::ofArguments(POSTCONF, {"-e", name + "=" + value});
}

std::vector<std::string> initScriptCommand(const std::string& verb) {
    return {POSTFIX_INIT_SCRIPT, verb};
}

int runCollectingErrors(process::Pipe& pipe, std::string& errors) {
    pipe.flags.stderrChannel.fd = process::FD_PIPE;
    pipe.flags.stderrChannel.function = process::makeStringReceiver(errors);
    const int status = pipe.run();
    if (WIFSIGNALED(status)) {
        // A killed program says nothing itself; name it and the signal.
        if (!errors.empty() && errors.back() != '\n')
            errors += '\n';
        const std::string& program = pipe.lastProgram();
        errors += program.substr(program.rfind('/') + 1) + " killed by signal " +
                  std::to_string(WTERMSIG(status));
    }
    return status;
}

bool exitedSuccessfully(int waitStatus) {
    return WIFEXITED(waitStatus) && WEXITSTATUS(waitStatus) == 0;
}

std::string errorMessage(const std::string& errors) {
    return errors.empty() ? std::string("unknown error") : errors;
}

} // namespace utilities
} // namespace korvo::mail::postfix
