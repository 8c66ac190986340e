// What the domain commands cost on a large server, through the real tool,
// the panel's MariaDB and the authentication database, against the bare
// work each command has to do, measured in the same run:
//
//   --rename-mailname (password)  against "postmap -s" plus a rebuild of
//                                 the virtual and mailbox tables;
//   --remove-mailname             against one "postmap -d -" per table it
//                                 changes, with the same keys;
//   --remove-alias                against one "postmap -d -" with the keys;
//   --set-bounce                  against one "postmap -r -i" per table with
//                                 the same records;
//   --add-domain-alias            against the panel query it needs through
//                                 the mariadb client, the copy of the
//                                 credentials through the sqlite3 client,
//                                 plus one "postmap -r -i" of its records;
//   --add-domain (existing)       in milliseconds, target under 50.
//
// The virtual table holds 1,000,000 records; the domain has 10,000
// mailnames with passwords, every tenth with a mail alias, and 1 or 10
// domain aliases: each figure is printed for both, with how it grew. Each
// measurement is the best of several rounds (three of the whole-table
// rename, nine of the others), the baseline taken right before the command.
// Starts its own panel database server and writes the real table paths,
// so it runs inside the sandbox only (bench/run puts it there).
//
// Beside the postmap figures it prints the least any command can reach:
// the bare run plus starting vornctl alone ("--help": loading the libraries
// it links, no panel, no table, no lock), less the shell both start from.
#include "ShellSteps.h"
#include "postfix/tables/Tables.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <string>
#include <sys/prctl.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using korvo::bench::run;
using korvo::bench::seconds;
namespace tables = korvo::mail::postfix::tables;

const long virtualRecords = 1000000;
const long mailboxRecords = 100000;
const int mailnames = 10000;
// Rounds of the whole-table rename, and of the commands of milliseconds,
// whose figures a busy machine scatters more.
const int wholeTableRounds = 3;
const int rounds = 9;
const char scratch[] = "/var/spool/postfix/korvo/costbench";
const char dataDir[] = "/var/lib/costbench-db";
const char authDatabase[] = "/var/spool/postfix/korvo/passwd.db";

std::string vornctl(const std::string& args) {
    return std::string(VORNCTL_BINARY) + " " + args + " > /dev/null";
}

std::string sql(const std::string& statements) {
    return "/usr/bin/mariadb --no-defaults -uroot orq -e \"" + statements + "\"";
}

// The panel server, ended with this program; the schema loaded and the
// tool's password file written.
void startPanel() {
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) {
            _exit(127);
        }
        execl("tests/sandbox/mariadb-start", "mariadb-start", dataDir, static_cast<char*>(nullptr));
        _exit(127);
    }
    for (int i = 0; i < 600; ++i) {
        if (std::system("/usr/bin/mariadb --no-defaults -uroot -e 'SELECT 1' >/dev/null 2>&1") ==
            0) {
            run("/usr/bin/mariadb --no-defaults -uroot < tests/sql/panel-schema.sql");
            run("mkdir -p /etc/orq && echo vornctl-panel-admin > /etc/orq/.orq.shadow && "
                "chmod 600 /etc/orq/.orq.shadow");
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    throw std::runtime_error("the panel database server did not start");
}

void buildTable(const std::string& table, const std::string& text) {
    const std::string source = tables::sourcePath(table);
    std::ofstream(source) << text;
    run("/usr/sbin/postmap " + table + " && rm " + source);
}

std::string aliasName(const std::string& domain, int i) {
    return "alias" + std::to_string(i) + "." + domain;
}

// Tables of a server holding the domain among many others; the panel rows
// of the domain; the authentication database.
void prepare(const std::string& domain, int aliases) {
    std::string virtuals;
    std::string mailboxes;
    for (int m = 0; m < mailnames; ++m) {
        const std::string mailbox = "m" + std::to_string(m) + "@" + domain;
        virtuals += mailbox + " " + mailbox + "\n";
        for (int a = 0; a < aliases; ++a) {
            virtuals += "m" + std::to_string(m) + "@" + aliasName(domain, a) + " " + mailbox + "\n";
        }
        mailboxes += mailbox + " " + domain + "/m" + std::to_string(m) + "/Maildir/\n";
    }
    const long others = virtualRecords - mailnames * (1 + aliases);
    for (long i = 0; i < others; ++i) {
        const std::string address =
            "user" + std::to_string(i) + "@domain" + std::to_string(i % 1000) + ".example";
        virtuals += address + " " + address + "\n";
        if (i < mailboxRecords - mailnames) {
            mailboxes += address + " domain" + std::to_string(i % 1000) + ".example/user" +
                         std::to_string(i) + "/Maildir/\n";
        }
    }
    buildTable(tables::VIRTUAL, virtuals);
    buildTable(tables::VMAILBOX, mailboxes);
    buildTable(tables::VIRTUAL_DOMAINS, domain + " " + domain + "/\n");
    buildTable(tables::ALIASES, "postmaster root\n");
    // Every mailname has a mailbox with a password on the domain and its aliases.
    run("rm -f " + std::string(authDatabase) + " && /usr/bin/sqlite3 -batch " + authDatabase +
        " < tests/sql/mail-auth-schema.sql");
    std::string users = "BEGIN; INSERT INTO domains (name) VALUES ('" + domain + "');";
    for (int a = 0; a < aliases; ++a) {
        users += " INSERT INTO domains (name) VALUES ('" + aliasName(domain, a) + "');";
    }
    users += " WITH RECURSIVE seq(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM seq WHERE i < " +
             std::to_string(mailnames - 1) +
             ") INSERT INTO users (name, userPassword, dom_id) SELECT 'm' || i, 'pw', d.id "
             "FROM seq, domains d; COMMIT;";
    run("/usr/bin/sqlite3 -batch " + std::string(authDatabase) + " \"" + users + "\"");

    std::string rows = "DELETE FROM mail; DELETE FROM mail_aliases; DELETE FROM domainaliases; "
                       "DELETE FROM domains; INSERT INTO domains (name) VALUES ('" +
                       domain + "'); SET @dom = LAST_INSERT_ID();";
    for (int a = 0; a < aliases; ++a) {
        rows += " INSERT INTO domainaliases (name, dom_id) VALUES ('" + aliasName(domain, a) +
                "', @dom);";
    }
    rows += " INSERT INTO mail (mail_name, dom_id) SELECT CONCAT('m', seq), @dom FROM seq_0_to_" +
            std::to_string(mailnames - 1) +
            "; INSERT INTO mail_aliases (mn_id, alias) SELECT id, CONCAT('al', mail_name) FROM "
            "mail WHERE id % 10 = 0;";
    run(sql(rows));
    run(vornctl("--add-domain --domain-name=" + domain));
}

struct Figure {
    std::string name;
    double command;
    double bare;
    double target;
};

// The best of the rounds of command against baseline; round names the
// fresh objects each command works on.
template <class Command, class Baseline>
Figure measure(const std::string& name, double target, int count, Command command,
               Baseline baseline) {
    Figure figure{name, 1e9, 1e9, target};
    for (int round = 0; round < count; ++round) {
        figure.bare = std::min(figure.bare, seconds(baseline(round)));
        figure.command = std::min(figure.command, seconds(command(round)));
    }
    return figure;
}

// postmap fed on stdin with the lines.
std::string postmapWith(const std::string& options, const std::string& table,
                        const std::string& lines) {
    return "printf '" + lines + "' | /usr/sbin/postmap " + options + " " + table;
}

std::vector<Figure> measureAll(const std::string& domain, int aliases) {
    prepare(domain, aliases);
    const std::string in = "--domain-name=" + domain;
    // Keys of a local part on the domain and all its aliases, one a line.
    const auto keysOf = [&](const std::string& local) {
        std::string keys = local + "@" + domain + "\\n";
        for (int a = 0; a < aliases; ++a) {
            keys += local + "@" + aliasName(domain, a) + "\\n";
        }
        return keys;
    };
    std::vector<Figure> figures;

    for (int round = 0; round < rounds; ++round) {
        run("mkdir -p /var/qmail/mailnames/" + domain + "/m" + std::to_string(100 + round) +
            " /var/qmail/mailnames/" + domain + "/m" + std::to_string(200 + round));
    }
    figures.push_back(measure(
        "--rename-mailname", 1.3, wholeTableRounds,
        [&](int round) {
            return "ORQ_PASSWORD=pw " + vornctl("--rename-mailname " + in + " --old-mailname=m" +
                                                std::to_string(100 + round) + " --new-mailname=r" +
                                                std::to_string(round));
        },
        [&](int) {
            std::string command;
            for (const char* table : {tables::VIRTUAL, tables::VMAILBOX}) {
                const std::string source = tables::sourcePath(table);
                command += "/usr/sbin/postmap -s " + std::string(table) + " > " + source +
                           " && /usr/sbin/postmap " + table + " && rm " + source + " && ";
            }
            return command + "true";
        }));

    figures.push_back(measure(
        "--remove-mailname", 1.3, rounds,
        [&](int round) {
            return vornctl("--remove-mailname " + in + " --mailname=m" +
                           std::to_string(200 + round));
        },
        [&](int round) {
            const std::string name = "m" + std::to_string(300 + round);
            return postmapWith("-d -", tables::VIRTUAL, keysOf(name)) + " ; " +
                   postmapWith("-d -", tables::VMAILBOX, name + "@" + domain + "\\n") + " ; true";
        }));

    figures.push_back(measure(
        "--remove-alias", 1.3, rounds,
        [&](int round) {
            return vornctl("--remove-alias " + in + " --mailname=m" + std::to_string(400 + round) +
                           " --alias=alm" + std::to_string(400 + round));
        },
        [&](int round) {
            return postmapWith("-d -", tables::VIRTUAL,
                               keysOf("alm" + std::to_string(410 + round))) +
                   " ; true";
        }));

    figures.push_back(measure(
        "--set-bounce", 1.3, rounds,
        [&](int round) {
            return vornctl("--set-bounce " + in + " --phrase=gone" + std::to_string(round));
        },
        [&](int round) {
            std::string programs =
                tables::bounceAliasName(domain) + " x" + std::to_string(round) + "\\n";
            std::string catchAlls =
                tables::catchAllKey(domain) + " " + tables::bounceAddress(domain) + "\\n";
            for (int a = 0; a < aliases; ++a) {
                programs += tables::bounceAliasName(aliasName(domain, a)) + " x\\n";
                catchAlls += tables::catchAllKey(aliasName(domain, a)) + " " +
                             tables::bounceAddress(aliasName(domain, a)) + "\\n";
            }
            return postmapWith("-r -i", tables::ALIASES, programs) + " && " +
                   postmapWith("-r -i", tables::VIRTUAL, catchAlls);
        }));

    figures.push_back(measure(
        "--add-domain-alias", 1.5, rounds,
        [&](int round) {
            return vornctl("--add-domain-alias " + in + " --domain-alias-name=new" +
                           std::to_string(round) + "." + domain + " --set-reject");
        },
        [&](int round) {
            const std::string alias = "bare" + std::to_string(round) + "." + domain;
            const std::string file = std::string(scratch) + "/records";
            // The credentials copied in one statement, then the panel query
            // and the records.
            return "/usr/bin/sqlite3 -batch " + std::string(authDatabase) +
                   " \"INSERT INTO domains (name) VALUES ('" + alias +
                   "'); INSERT INTO users (name, userPassword, cmusaslsecretPLAIN, status, dom_id) "
                   "SELECT u.name, u.userPassword, u.cmusaslsecretPLAIN, u.status, n.id FROM "
                   "users u, domains s, domains n WHERE u.dom_id=s.id AND s.name='" +
                   domain + "' AND n.name='" + alias + "'\" && " +
                   "/usr/bin/mariadb --no-defaults -uroot orq --batch --skip-column-names -e "
                   "\"SELECT m.mail_name, ma.alias FROM mail m JOIN domains d ON m.dom_id=d.id "
                   "LEFT JOIN mail_aliases ma ON ma.mn_id=m.id WHERE d.name='" +
                   domain + "' ORDER BY m.id, ma.id\" | awk -v a=" + alias + " -v d=" + domain +
                   " '{ print $1 \"@\" a, $1 \"@\" d; if ($2 != \"NULL\") print $2 \"@\" a, $1 "
                   "\"@\" d }' > " +
                   file + " && /usr/sbin/postmap -r -i " + tables::VIRTUAL + " < " + file;
        }));

    // No baseline: the target is absolute, 50 ms.
    figures.push_back(measure(
        "--add-domain on an existing domain", 0.05, rounds,
        [&](int) { return vornctl("--add-domain " + in); }, [](int) { return "true"; }));
    figures.back().bare = 0;
    return figures;
}

} // namespace

int main() {
    if (access("/run/vornctl-sandbox/active", F_OK) != 0) {
        std::cerr << "CostBench writes /var/spool/postfix: run it through tests/sandbox/run"
                  << std::endl;
        return 1;
    }
    try {
        run(std::string("mkdir -p ") + scratch);
        startPanel();
        const std::vector<Figure> one = measureAll("one.example", 1);
        const std::vector<Figure> ten = measureAll("ten.example", 10);
        // The shell that starts each command is in the bare runs already.
        double start = 1e9;
        double shell = 1e9;
        for (int round = 0; round < rounds; ++round) {
            start = std::min(start, seconds(vornctl("--help")));
            shell = std::min(shell, seconds("true"));
        }
        start -= shell;
        std::printf("starting vornctl alone: %.1f ms\n", start * 1000);
        for (std::size_t i = 0; i < ten.size(); ++i) {
            const Figure& f = ten[i];
            const double grew = f.command / one[i].command;
            if (f.bare == 0) {
                std::printf("%s: %.1f ms (target < %.0f ms)%s [1 alias: %.1f ms; grew %.2fx from "
                            "1 to 10 aliases]\n",
                            f.name.c_str(), f.command * 1000, f.target * 1000,
                            f.command < f.target ? "" : " MISSED", one[i].command * 1000, grew);
                continue;
            }
            const double ratio = f.command / f.bare;
            std::printf("%s: ratio %.2f (target <= %.1f)%s [10 aliases: %.3f s against %.3f s; "
                        "1 alias: ratio %.2f, %.3f s against %.3f s; grew %.2fx from 1 to 10 "
                        "aliases; the bare run plus starting vornctl: ratio %.2f]\n",
                        f.name.c_str(), ratio, f.target, ratio <= f.target ? "" : " MISSED",
                        f.command, f.bare, one[i].command / one[i].bare, one[i].command,
                        one[i].bare, grew, (f.bare + start) / f.bare);
        }
        run(std::string("rm -rf ") + scratch);
        return 0;
    } catch (const std::exception& e) {
        std::cerr << "CostBench: " << e.what() << std::endl;
        return 1;
    }
}
