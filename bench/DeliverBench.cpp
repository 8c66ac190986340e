// The delivery agent against deliverquota alone, in the same run.
//
//   one delivery    of a 1 KB and of a 1 MB message into a mailbox with a
//                   quota, through the .qmail the tool writes ("| true",
//                   "| /usr/bin/deliverquota ./Maildir"), against
//                   deliverquota run alone on the same message in the same
//                   mailbox: at most 1.5 times as long;
//   peak RSS        of the agent storing a 1 KB and a 50 MB message (through
//                   deliverquota and through a "./Maildir/" line): the
//                   message is never held in memory, so it must not grow.
//
// Both run as the mail account with the message file on standard input, as
// Postfix's pipe runs the agent. Writes /var/qmail and mounts a private
// /usr/bin for the deliverquota link (both end with the sandbox), so it
// runs inside the sandbox only
// (bench/run puts it there). Times are the best of interleaved rounds.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <grp.h>
#include <iostream>
#include <pwd.h>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

const std::string home = "/var/qmail/mailnames/bench.example/info";
const std::string recipient = "info@bench.example";
const char* const toolDotQmail = "| true\n| /usr/bin/deliverquota ./Maildir\n";
const char* const maildirDotQmail = "./Maildir/\n";
const char* const quotaLine = "1000000000000S\n";
const int rounds = 15;
const int deliveriesPerRound = 10;

void run(const std::string& command) {
    if (std::system(command.c_str()) != 0)
        throw std::runtime_error("failed: " + command);
}

void writeFile(const std::string& path, const std::string& content) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0 || ::write(fd, content.data(), content.size()) != ssize_t(content.size()) ||
        ::close(fd) != 0)
        throw std::runtime_error("cannot write " + path);
}

// A message of about size bytes with a header, in a file.
std::string makeMessage(const std::string& name, std::size_t size) {
    const std::string path = "/var/tmp/deliver-bench-" + name;
    std::string text = "From: sender@example.org\nSubject: bench\n\n";
    const std::string line(75, 'x');
    while (text.size() + line.size() + 1 <= size)
        text += line + "\n";
    writeFile(path, text);
    return path;
}

// The mailbox empty again, with its quota and the given .qmail.
void resetMailbox(const char* dotQmail) {
    run("rm -f " + home + "/Maildir/new/* " + home + "/Maildir/tmp/*");
    writeFile(home + "/.qmail", dotQmail);
    writeFile(home + "/Maildir/maildirsize", quotaLine);
    run("chown popuser:popuser " + home + "/.qmail " + home + "/Maildir/maildirsize");
}

struct Measured {
    double seconds;
    long peakKiB;
};

// Runs argv as popuser in the home with the message file on standard input.
Measured runAsMailAccount(const std::vector<std::string>& argv, const std::string& messageFile) {
    const passwd* account = ::getpwnam("popuser");
    if (account == nullptr)
        throw std::runtime_error("no account popuser");
    std::vector<char*> args;
    for (const std::string& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int input = ::open(messageFile.c_str(), O_RDONLY);
        if (input < 0 || ::dup2(input, 0) < 0 || ::chdir(home.c_str()) != 0 ||
            ::setgroups(0, nullptr) != 0 || ::setgid(account->pw_gid) != 0 ||
            ::setuid(account->pw_uid) != 0)
            _exit(126);
        ::execv(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (pid < 0 || ::wait4(pid, &status, 0, &usage) != pid)
        throw std::runtime_error("cannot run " + argv[0]);
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error(argv[0] + " failed with status " + std::to_string(status));
    return {elapsed, usage.ru_maxrss};
}

Measured agent(const std::string& messageFile) {
    return runAsMailAccount(
        {VORNCTL_DELIVER_BINARY, "--sender=sender@example.org", "--", recipient}, messageFile);
}

Measured deliverquota(const std::string& messageFile) {
    return runAsMailAccount({"/usr/bin/deliverquota", "./Maildir"}, messageFile);
}

// Best seconds per delivery of the agent and of deliverquota alone: the
// least disturbed by whatever else the machine runs.
void compareDelivery(const std::string& label, const std::string& messageFile) {
    std::vector<double> agentTimes;
    std::vector<double> aloneTimes;
    for (int round = 0; round < rounds; ++round) {
        resetMailbox(toolDotQmail);
        for (int i = 0; i < deliveriesPerRound; ++i) {
            agentTimes.push_back(agent(messageFile).seconds);
            aloneTimes.push_back(deliverquota(messageFile).seconds);
        }
    }
    const double agentTime = *std::min_element(agentTimes.begin(), agentTimes.end());
    const double aloneTime = *std::min_element(aloneTimes.begin(), aloneTimes.end());
    std::printf("vornctl-deliver %s message with quota: ratio %.2f (target <= 1.5) [agent %.2f ms, "
                "deliverquota alone %.2f ms, best of %d]\n",
                label.c_str(), agentTime / aloneTime, agentTime * 1e3, aloneTime * 1e3,
                rounds * deliveriesPerRound);
}

void comparePeak(const char* dotQmail, const char* label, const std::string& small,
                 const std::string& large) {
    resetMailbox(dotQmail);
    const long smallPeak = agent(small).peakKiB;
    const long largePeak = agent(large).peakKiB;
    std::printf("vornctl-deliver peak RSS 1 KB to 50 MB message (%s): ratio %.2f (target <= 1.1) "
                "[%ld KiB at 1 KB, %ld KiB at 50 MB]\n",
                label, static_cast<double>(largePeak) / smallPeak, smallPeak, largePeak);
}

} // namespace

int main() {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if (::access("/run/vornctl-sandbox/active", F_OK) != 0) {
        std::cerr << "DeliverBench writes /var/qmail: run it through tests/sandbox/run" << std::endl;
        return 1;
    }
    run("d=/run/deliver-bench-usr-bin && mkdir -p $d && mount -t tmpfs usr-bin $d && "
        "mkdir $d/upper $d/work && mount -t overlay usr-bin -o lowerdir=/usr/bin,"
        "upperdir=$d/upper,workdir=$d/work /usr/bin && "
        "ln -sf /usr/sbin/deliverquota.maildrop /usr/bin/deliverquota");
    run("mkdir -p " + home + "/Maildir/tmp " + home + "/Maildir/new " + home + "/Maildir/cur && " +
        "chown -R popuser:popuser " + home + " && chmod 0750 /var/qmail/mailnames " +
        "/var/qmail/mailnames/bench.example && chgrp popuser /var/qmail/mailnames " +
        "/var/qmail/mailnames/bench.example");
    const std::string kilobyte = makeMessage("1k", 1024);
    const std::string megabyte = makeMessage("1m", 1024 * 1024);
    const std::string fifty = makeMessage("50m", 50 * 1024 * 1024);
    compareDelivery("1 KB", kilobyte);
    compareDelivery("1 MB", megabyte);
    comparePeak(toolDotQmail, "deliverquota line", kilobyte, fifty);
    comparePeak(maildirDotQmail, "Maildir line", kilobyte, fifty);
    run("rm -rf /var/qmail/mailnames/bench.example /var/tmp/deliver-bench-*");
    return 0;
}
