// Shell commands as benchmark steps: a failed step ends the benchmark with
// the command's text; a timed step gives its wall time in seconds.
#ifndef KORVO_BENCH_SHELLSTEPS_H
#define KORVO_BENCH_SHELLSTEPS_H

#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <string>

namespace korvo::bench {

inline void run(const std::string& command) {
    if (std::system(command.c_str()) != 0) {
        throw std::runtime_error("failed: " + command);
    }
}

inline double seconds(const std::string& command) {
    const auto start = std::chrono::steady_clock::now();
    run(command);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace korvo::bench

#endif
