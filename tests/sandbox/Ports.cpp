#include "sandbox/Ports.h"

#include "sandbox/Sandbox.h"
#include "sandbox/TestFiles.h"

#include <cstdio>
#include <string>

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
    return waitUntil([port, wanted] { return listening(port) == wanted; }, 5);
}

} // namespace korvo::test
