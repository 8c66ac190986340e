#include "sandbox/Ports.h"

#include "sandbox/TestFiles.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

namespace korvo::test {

namespace {

bool listening(int port) {
    char v4[48];
    std::snprintf(v4, sizeof v4, ":%04X 00000000:0000 0A", port);
    char v6[80];
    std::snprintf(v6, sizeof v6, ":%04X 00000000000000000000000000000000:0000 0A", port);
    return readFile("/proc/net/tcp").find(v4) != std::string::npos ||
           readFile("/proc/net/tcp6").find(v6) != std::string::npos;
}

} // namespace

bool becomesListening(int port, bool wanted) {
    for (int i = 0; i < 50; ++i, std::this_thread::sleep_for(std::chrono::milliseconds(100)))
        if (listening(port) == wanted)
            return true;
    return false;
}

} // namespace korvo::test
