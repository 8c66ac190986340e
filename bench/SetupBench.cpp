// vornctl-setup on a server it prepared already (nothing to change), against
// one bare "postconf -n" in the same run: the median of several runs each.
// The target is absolute: under a second. main.cf is left to stand for two
// seconds first, as on a server prepared some time ago (postconf waits on a
// main.cf changed within the last second).
#include "ShellSteps.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

const int rounds = 7;
const double targetSeconds = 1.0;
const std::string programs = "/usr/libexec/vornctl";

// A throw-away overlay over dir, as the tests make.
std::string privateLayer(const std::string& dir, const std::string& name) {
    const std::string layer = "/run/bench-" + name;
    return "mkdir -p " + layer + " && mount -t tmpfs " + name + " " + layer + " && mkdir " +
           layer + "/upper " + layer + "/work && mount -t overlay " + name + " -o lowerdir=" +
           dir + ",upperdir=" + layer + "/upper,workdir=" + layer + "/work " + dir;
}

double median(const std::string& command) {
    std::vector<double> times;
    for (int i = 0; i < rounds; ++i)
        times.push_back(korvo::bench::seconds(command));
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace

int main() {
    using korvo::bench::run;
    try {
        const std::string setup = std::string(VORNCTL_SETUP_BINARY) + " --delivery-agent=" +
                                  programs + "/vornctl-deliver --filter=" + programs +
                                  "/vornctl-filter --autoresponder=" + programs +
                                  "/vornctl-autoresponder";
        run(privateLayer("/usr/bin", "usr-bin"));
        run(privateLayer("/usr/libexec", "usr-libexec"));
        run("install -d -m 0755 " + programs + " && install -m 0755 " VORNCTL_DELIVER_BINARY
            " " VORNCTL_FILTER_BINARY " " VORNCTL_AUTORESPONDER_BINARY " " + programs);
        run(setup + " --force >/dev/null");
        ::sleep(2);
        // A prepared server: the run prints nothing and succeeds.
        run("test -z \"$(" + setup + " 2>&1)\"");
        const double bare = median("/usr/sbin/postconf -n >/dev/null");
        const double prepared = median(setup + " >/dev/null");
        std::printf("setup on a prepared server: %.3f s (target < %.1f s) [ratio %.1f to one bare "
                    "postconf -n, %.3f s]\n",
                    prepared, targetSeconds, prepared / bare, bare);
        return prepared < targetSeconds ? 0 : 1;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "SetupBench: %s\n", error.what());
        return 2;
    }
}
