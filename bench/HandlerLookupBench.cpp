// Cost of finding a message's handlers when 10,000 handlers are registered
// for other addresses, against the same lookup in an empty registry, in the
// same run: the lookup reads only the queues of the message's own sender
// and recipients, so the ratio stays near 1.
#include "handlers/HandlerQueues.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using korvo::handlers::applicableHandlers;
using korvo::handlers::MessageParties;

const std::string root = "/usr/local/orq/bench-handlers";
const int others = 10000;
const int lookups = 20000;
const int rounds = 5;

void touch(const fs::path& path) {
    std::ofstream(path.string()).flush();
}

// A handler enabled in the queue of one address.
void registerHandler(const std::string& registry, const std::string& address, int number) {
    const std::string name = "10-bench-" + std::to_string(100000 + number);
    const fs::path queue = fs::path(registry) / "before-local/recipient" / address;
    fs::create_directories(queue);
    touch(queue / name);
    const fs::path info = fs::path(registry) / "info" / name;
    fs::create_directories(info);
    fs::create_symlink("/bin/true", info / "executable");
}

double secondsPerLookup(const std::string& registry, const MessageParties& message) {
    double best = 1e9;
    for (int round = 0; round < rounds; ++round) {
        const auto start = std::chrono::steady_clock::now();
        std::size_t found = 0;
        for (int i = 0; i < lookups; ++i)
            found +=
                applicableHandlers(registry, korvo::handlers::HOOK_BEFORE_LOCAL, message).size();
        const double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        best = std::min(best, elapsed / lookups);
        if (found != static_cast<std::size_t>(lookups))
            std::printf("unexpected handler count %zu\n", found);
    }
    return best;
}

} // namespace

int main() {
    const std::string empty = root + "/empty";
    const std::string full = root + "/full";
    fs::remove_all(root);
    const MessageParties message{"someone@remote.example", {"info@example.com"}};
    registerHandler(empty, "info@example.com", 0);
    registerHandler(full, "info@example.com", 0);
    for (int i = 1; i <= others; ++i)
        registerHandler(full, "user" + std::to_string(i) + "@other.example", i);

    const double baseline = secondsPerLookup(empty, message);
    const double crowded = secondsPerLookup(full, message);
    std::printf("handler lookup among %d other handlers: ratio %.2f (target <= 1.5) "
                "[%.1f us against %.1f us in a registry of one; 5 queue directories per "
                "message with one recipient]\n",
                others, crowded / baseline, crowded * 1e6, baseline * 1e6);
    fs::remove_all(root);
    return crowded / baseline <= 1.5 ? 0 : 1;
}
