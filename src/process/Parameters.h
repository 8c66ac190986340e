// One process of a pipe: its flags plus its argument vector.
//
// Two ways to build one, every flag at its default:
//   Parameters<PipeProcessFlags>::ofArguments("/usr/sbin/postmap", {"-q", key, table});
// passes every argument, empty ones included: the tool's own callers use
// it. The ten-string constructor, the fixed form of the library,
//   Parameters<PipeProcessFlags> p("/usr/sbin/postconf", "-e", "x=y",
//                                  "", "", "", "", "", "", "");
// takes the program (and argv[0]) and appends the rest up to the first
// empty one, so an empty argument cannot be passed that way.
#ifndef KORVO_PROCESS_PARAMETERS_H
#define KORVO_PROCESS_PARAMETERS_H

#include "process/ProcessFlags.h"

#include <string>
#include <vector>

namespace korvo::process {

template <class Flags> struct Parameters : Flags {
    Parameters(const std::string& program, const std::string& a1, const std::string& a2,
               const std::string& a3, const std::string& a4, const std::string& a5,
               const std::string& a6, const std::string& a7, const std::string& a8,
               const std::string& a9) {
        const std::string* const rest[] = {&a1, &a2, &a3, &a4, &a5, &a6, &a7, &a8, &a9};
        arguments.reserve(10);
        arguments.push_back(program);
        for (const std::string* argument : rest) {
            if (argument->empty())
                break;
            arguments.push_back(*argument);
        }
    }

    // The program followed by every one of args, empty ones included.
    static Parameters ofArguments(const std::string& program,
                                  const std::vector<std::string>& args) {
        Parameters parameters(program, "", "", "", "", "", "", "", "", "");
        parameters.arguments.insert(parameters.arguments.end(), args.begin(), args.end());
        return parameters;
    }

    // argv of the process; the first element is passed as argv[0].
    std::vector<std::string> arguments;
};

} // namespace korvo::process

#endif
