// One process of a pipe: its flags plus its argument vector.
//
// The ten-string constructor is the usual way to build one:
//   Parameters<PipeProcessFlags> p("/usr/sbin/postconf", "-e", "x=y",
//                                  "", "", "", "", "", "", "");
// The first string is the program (and argv[0]); the rest are appended up
// to the first empty one, so an empty argument cannot be passed this way
// (push it onto `arguments` instead). Every flag starts at its default.
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

    // argv of the process; the first element is passed as argv[0].
    std::vector<std::string> arguments;
};

} // namespace korvo::process

#endif
