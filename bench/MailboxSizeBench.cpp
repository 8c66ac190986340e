// Mailbox size against du doing the same walk in the same run.
//
//   get_mbox_size   of a mailbox of 100,000 messages with size-tagged names
//                   in four folders and no maildirsize yet (the recount
//                   path), against "du -sb" of the same mail home: the tags
//                   spare nearly every stat, so the count must clearly beat
//                   du;
//   peak RSS        of the process counting 10,000 and 100,000 messages: it
//                   must not grow with the mailbox.
//
// Writes mail homes under /var/qmail, so it runs inside the sandbox only
// (bench/run puts it there). Times are the best of interleaved rounds.
#include "mail/storage/MailboxSize.h"
#include "mail/storage/MaildirManager.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <iostream>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

namespace {

using korvo::mail::MaildirManager;

const char domain[] = "bench.example";
const char* const folders[] = {"/Maildir/cur", "/Maildir/new", "/Maildir/.Sent/cur",
                               "/Maildir/.Archive/cur"};
const int rounds = 5;

void run(const std::string& command) {
    if (std::system(command.c_str()) != 0)
        throw std::runtime_error("failed: " + command);
}

double seconds(const std::function<void()>& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A mail home holding messages files named as delivery agents name them,
// spread over the Maildir and three folders, each of 100 to 600 bytes.
std::string makeMailbox(const std::string& mailname, long messages) {
    MaildirManager& homes = MaildirManager::getInstance();
    homes.createMailnameHome(domain, mailname);
    const std::string home = homes.getMailnameHome(domain, mailname);
    run("mkdir -p " + home + "/Maildir/.Sent/cur " + home + "/Maildir/.Archive/cur");
    const std::string body(600, 'x');
    for (long i = 0; i < messages; ++i) {
        const long size = 100 + (i * 7919) % 500;
        const std::string path = home + folders[i % 4] + "/1700000000.M" + std::to_string(i) +
                                 "P4242.bench.example,S=" + std::to_string(size) + ":2,S";
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0 || ::write(fd, body.data(), size) != size || ::close(fd) != 0)
            throw std::runtime_error("cannot write " + path);
    }
    return home;
}

// Runs work in a child; returns the child's wall time and its peak resident
// set in KiB.
std::pair<double, long> inChild(const std::function<void()>& work) {
    int fds[2];
    if (::pipe(fds) != 0)
        throw std::runtime_error("pipe");
    std::fflush(nullptr);
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        work();
        rusage usage{};
        ::getrusage(RUSAGE_SELF, &usage);
        const long peak = usage.ru_maxrss;
        _exit(::write(fds[1], &peak, sizeof peak) == sizeof peak ? 0 : 1);
    }
    ::close(fds[1]);
    long peak = -1;
    const bool got = ::read(fds[0], &peak, sizeof peak) == sizeof peak;
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!got || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error("the measured child failed");
    return {elapsed, peak};
}

// Counts the mailbox in a child; the child checks the total against the
// expected one, so a fast wrong count cannot pass.
std::pair<double, long> countMailbox(const std::string& mailname, long long expected) {
    return inChild([&] {
        if (get_mbox_size(mailname.c_str(), domain, 0) != expected)
            _exit(3);
    });
}

long long expectedBytes(long messages, const std::string& home) {
    long long total = 0;
    for (long i = 0; i < messages; ++i)
        total += 100 + (i * 7919) % 500;
    struct stat st {};
    ::lstat((home + "/@attachments").c_str(), &st);
    return total + st.st_size;
}

} // namespace

int main() {
    if (::access("/run/vornctl-sandbox/active", F_OK) != 0) {
        std::cerr << "MailboxSizeBench writes /var/qmail: run it through tests/sandbox/run"
                  << std::endl;
        return 1;
    }
    const long small = 10000;
    const long large = 100000;
    const std::string smallHome = makeMailbox("small", small);
    const std::string largeHome = makeMailbox("large", large);
    const long long smallBytes = expectedBytes(small, smallHome);
    const long long largeBytes = expectedBytes(large, largeHome);

    long smallPeak = 0;
    long largePeak = 0;
    double counted = 1e9;
    double du = 1e9;
    for (int round = 0; round < rounds; ++round) {
        du = std::min(du, seconds([&] { run("du -sb " + largeHome + " > /dev/null"); }));
        const std::pair<double, long> measured = countMailbox("large", largeBytes);
        counted = std::min(counted, measured.first);
        largePeak = std::max(largePeak, measured.second);
        smallPeak = std::max(smallPeak, countMailbox("small", smallBytes).second);
    }
    std::printf("get_mbox_size 100k messages: ratio %.2f (target <= 0.8) [get_mbox_size %.3f s, "
                "du -sb %.3f s, best of %d]\n",
                counted / du, counted, du, rounds);
    std::printf("get_mbox_size peak RSS growth 10k to 100k messages: ratio %.2f (target <= 1.1) "
                "[%ld KiB at 10k, %ld KiB at 100k]\n",
                static_cast<double>(largePeak) / smallPeak, smallPeak, largePeak);
    run(std::string("rm -rf ") + MaildirManager::getInstance().getDomainRoot(domain));
    return 0;
}
