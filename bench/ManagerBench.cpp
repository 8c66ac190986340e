// Whole-table manager operations against bare postmap runs doing the same
// table work.
//
//   renameMailname  on mailbox and virtual tables of 1,000,000 records each,
//                   against "postmap -s T > source && postmap T" for both;
//   removeDomain    on the same tables, against the same baseline;
//   postmap runs    of each operation, counted on small tables through a
//                   counting wrapper bound over /usr/sbin/postmap: each
//                   rewrite is one dump and one rebuild, removeDomain adds
//                   the delete of the domain record;
//   peak RSS        of the process running each operation, on tables of
//                   10,000 and of 1,000,000 records: it must not grow with
//                   the tables.
//
// Each measured operation runs in a fresh process (this program, started
// again with the operation's name), which times itself and reports its own
// peak resident set, so neither the figures nor the memory of one round
// leak into the next. Writes the real table paths under
// /var/spool/postfix/korvo and mail homes under /var/qmail, so it runs inside
// the sandbox only (bench/run puts it there).
#include "ShellSteps.h"
#include "mail/storage/OnRemoval.h"
#include "postfix/managers/DomainManager.h"
#include "postfix/managers/MailnameManager.h"
#include "postfix/tables/Tables.h"

#include <algorithm>
#include <boost/filesystem.hpp>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

namespace {

using korvo::bench::run;
using korvo::bench::seconds;
using korvo::mail::postfix::DomainManager;
using korvo::mail::postfix::MailnameManager;
namespace tables = korvo::mail::postfix::tables;

const char scratch[] = "/var/spool/postfix/korvo/bench";
const char homes[] = "/var/qmail/mailnames/";
const long domains = 1000;

std::string domainName(long index) {
    return "domain" + std::to_string(index % domains) + ".example";
}

// Builds a table from source lines written by line(i) for i < records.
template <class Line> void buildTable(const std::string& table, long records, Line line) {
    const std::string source = tables::sourcePath(table);
    {
        std::ofstream out(source);
        for (long i = 0; i < records; ++i) {
            line(out, i);
        }
    }
    run("/usr/sbin/postmap " + table);
    std::remove(source.c_str());
}

// Tables shaped like a hosting server's: one mailbox per record, every
// virtual record the mailbox mapped to itself, every tenth with a
// forwarding list crossing domains. Each domain has its root on disk.
void buildTables(long records) {
    buildTable(tables::VMAILBOX, records, [](std::ostream& out, long i) {
        out << "user" << i << '@' << domainName(i) << ' ' << domainName(i) << "/user" << i
            << "/Maildir/\n";
    });
    buildTable(tables::VIRTUAL, records, [](std::ostream& out, long i) {
        const std::string address = "user" + std::to_string(i) + "@" + domainName(i);
        out << address << ' ' << address;
        if (i % 10 == 0) {
            out << ", fwd" << i << '@' << domainName(i + 7) << ", user" << i
                << "@elsewhere.example";
        }
        out << '\n';
    });
    buildTable(tables::VIRTUAL_DOMAINS, domains, [](std::ostream& out, long i) {
        out << domainName(i) << ' ' << domainName(i) << "/\n";
    });
    for (long i = 0; i < domains; ++i) {
        boost::filesystem::create_directories(homes + domainName(i));
    }
}

// The mailname renamed in round n, and the domain removed in round n.
std::string mailnameOf(int round) {
    return "user" + std::to_string(round * domains + round);
}
std::string removedDomain(int round) {
    return domainName(domains / 2 + round);
}

// What a measuring child runs.
void operate(const std::string& name, int round) {
    if (name == "renameMailname") {
        const std::string domain = domainName(round);
        boost::filesystem::create_directories(std::string(homes) + domain + "/" +
                                              mailnameOf(round));
        MailnameManager::renameMailname(domain, mailnameOf(round), "renamed" + mailnameOf(round));
    } else {
        DomainManager::removeDomain(removedDomain(round), korvo::mail::Remove);
    }
}

struct Measured {
    double seconds;
    long peakKiB;
};

// Runs the operation in a fresh process of this program.
Measured measure(const std::string& name, int round) {
    const std::string command =
        "/proc/" + std::to_string(getpid()) + "/exe " + name + " " + std::to_string(round);
    const std::unique_ptr<FILE, int (*)(FILE*)> child(popen(command.c_str(), "r"), pclose);
    Measured measured{0, 0};
    if (!child || std::fscanf(child.get(), "%lf %ld", &measured.seconds, &measured.peakKiB) != 2) {
        throw std::runtime_error("the measuring child failed: " + command);
    }
    return measured;
}

// The measuring child: the operation's wall time and this process's peak
// resident set in KiB (postmap's children do not count) on standard output.
int child(const std::string& name, int round) {
    try {
        const auto start = std::chrono::steady_clock::now();
        operate(name, round);
        const double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        std::printf("%f %ld\n", elapsed, usage.ru_maxrss);
        return 0;
    } catch (const std::exception& e) {
        std::cerr << name << ": " << e.what() << std::endl;
        return 1;
    }
}

// Dump and rebuild of the two tables both operations rewrite.
const std::string baseline = [] {
    std::string command;
    for (const char* table : {tables::VMAILBOX, tables::VIRTUAL}) {
        const std::string source = tables::sourcePath(table);
        command += "/usr/sbin/postmap -s " + std::string(table) + " > " + source +
                   " && /usr/sbin/postmap " + table + " && rm " + source + " && ";
    }
    return command + "true";
}();

struct Small {
    long runs;
    long peakKiB;
};

// On small tables: how many postmap runs the operation makes, and its peak
// memory. A wrapper that counts its calls is bound over postmap for it.
Small countRuns(const std::string& name, int round) {
    const std::string dir = scratch;
    const std::string count = dir + "/postmap-runs";
    std::remove(count.c_str());
    std::ofstream(dir + "/postmap-counting")
        << "#!/bin/sh\necho >> " << count << "\nexec " << dir << "/postmap-real \"$@\"\n";
    run("cp /usr/sbin/postmap " + dir + "/postmap-real && chmod 755 " + dir +
        "/postmap-counting && mount --bind " + dir + "/postmap-counting /usr/sbin/postmap");
    Small small{0, 0};
    try {
        small.peakKiB = measure(name, round).peakKiB;
    } catch (...) {
        run("umount /usr/sbin/postmap");
        throw;
    }
    run("umount /usr/sbin/postmap");
    std::ifstream lines(count);
    for (std::string line; std::getline(lines, line);) {
        ++small.runs;
    }
    return small;
}

void report(const std::string& name, double operation, double bare, long runs, long steps,
            long smallPeak, long peak) {
    std::printf("%s: ratio %.2f (target <= 1.3) [%.2f s against postmap -s and rebuild of "
                "both tables %.2f s; postmap runs %ld, steps %ld%s; peak RSS %ld KiB at 1M "
                "records, %ld KiB at 10k%s]\n",
                name.c_str(), operation / bare, operation, bare, runs, steps,
                runs == steps ? "" : " MISMATCH", peak, smallPeak,
                peak > smallPeak * 11 / 10 ? " GROWS" : "");
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3) {
        return child(argv[1], std::atoi(argv[2]));
    }
    if (access("/run/vornctl-sandbox/active", F_OK) != 0) {
        std::cerr << "ManagerBench writes /var/spool/postfix: run it through tests/sandbox/run"
                  << std::endl;
        return 1;
    }
    run(std::string("mkdir -p ") + scratch);
    buildTables(10000);
    const Small smallRename = countRuns("renameMailname", 0);
    const Small smallRemove = countRuns("removeDomain", 0);

    buildTables(1000000);
    double bare = 1e9;
    double rename = 1e9;
    double remove = 1e9;
    long renamePeak = 0;
    long removePeak = 0;
    // Interleaved rounds, so that the operations and the baseline see the
    // same load; each round renames another mailname and removes another
    // domain.
    for (int round = 1; round <= 2; ++round) {
        bare = std::min(bare, seconds(baseline));
        const Measured renamed = measure("renameMailname", round);
        rename = std::min(rename, renamed.seconds);
        renamePeak = std::max(renamePeak, renamed.peakKiB);
        const Measured removed = measure("removeDomain", round);
        remove = std::min(remove, removed.seconds);
        removePeak = std::max(removePeak, removed.peakKiB);
    }
    // Two rewrites of dump and rebuild; the domain removal deletes the
    // domain record first.
    report("renameMailname", rename, bare, smallRename.runs, 4, smallRename.peakKiB, renamePeak);
    report("removeDomain", remove, bare, smallRemove.runs, 5, smallRemove.peakKiB, removePeak);
    run(std::string("rm -rf ") + scratch + " " + homes + "*");
    return 0;
}
