// A server with panel and auth databases and empty tables, and the wholeness
// checks every fault scenario ends with.
#ifndef KORVO_TESTS_HARDENING_HARDENINGFIXTURE_H
#define KORVO_TESTS_HARDENING_HARDENINGFIXTURE_H

#include "postfix/tables/Tables.h"
#include "sandbox/CommandRunner.h"
#include "sandbox/MailAuthDatabase.h"
#include "sandbox/PanelDatabase.h"
#include "sandbox/Snapshot.h"
#include "sandbox/TestFiles.h"

#include <algorithm>
#include <dirent.h>
#include <iterator>
#include <regex>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace korvo::test {

class HardeningTest : public PanelDatabaseTest {
protected:
    void SetUp() override;

    static void vornctl(const std::vector<std::string>& args);
    // Panel row plus the tool's --add-domain / --add-mailname.
    static void addDomain(const std::string& domain);
    static void addMailname(const std::string& domain, const std::string& mailname);

    // The snapshot's "table ..." lines.
    static std::vector<std::string> tableLines();

    // Unreadable tables or master.cf, partial .qmail/maildirsize/Courier
    // files, temporaries left anywhere; empty when all is well.
    static std::vector<std::string> damage();

    static std::string mailHome(const std::string& domain, const std::string& mailname) {
        return "/var/qmail/mailnames/" + domain + "/" + mailname;
    }
};

namespace hardening_detail {

const char tableDir[] = "/var/spool/postfix/korvo";

// Sorted names in dir; none when unreadable.
inline std::vector<std::string> entries(const std::string& dir) {
    std::vector<std::string> names;
    DIR* handle = ::opendir(dir.c_str());
    while (const dirent* entry = handle != nullptr ? ::readdir(handle) : nullptr) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    if (handle != nullptr)
        ::closedir(handle);
    std::sort(names.begin(), names.end());
    return names;
}

inline bool isDir(const std::string& path) {
    return S_ISDIR(statOf(path).st_mode);
}

inline bool exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

// ".tmp", ".korvo-new" or a random 6-character suffix after a sibling's name.
inline void checkTemporaries(const std::string& dir, std::vector<std::string>& found) {
    static const std::regex random(R"((.+)\.[A-Za-z0-9]{6})");
    for (const std::string& name : entries(dir)) {
        const std::string path = dir + "/" + name;
        std::smatch match;
        const auto ends = [&](const std::string& suffix) {
            return name.size() > suffix.size() &&
                   name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
        };
        if (ends(".tmp") || ends(".korvo-new") ||
            (std::regex_match(name, match, random) && exists(dir + "/" + match[1].str())))
            found.push_back("temporary left: " + path);
        if (isDir(path))
            checkTemporaries(path, found);
    }
}

inline void checkQmail(const std::string& path, std::vector<std::string>& found) {
    const std::string text = readFile(path);
    std::istringstream lines(text);
    std::string line;
    bool first = true;
    while (std::getline(lines, line)) {
        const bool valid =
            line == "| true" || line == "| /usr/bin/deliverquota ./Maildir" ||
            (line.size() > 3 && line[0] == '&' && line.find('@') != std::string::npos);
        if (!valid || (first && line != "| true"))
            found.push_back("bad .qmail line in " + path + ": [" + line + "]");
        first = false;
    }
    if (text.empty() || text.back() != '\n')
        found.push_back("unfinished .qmail: " + path);
}

inline void checkMaildirsize(const std::string& path, std::vector<std::string>& found) {
    static const std::regex whole(R"(\d+S,\d+C\n( *-?\d+ *-?\d+\n)+)");
    if (!std::regex_match(readFile(path), whole))
        found.push_back("partial maildirsize: " + path);
}

inline void checkMailHomes(std::vector<std::string>& found) {
    const std::string root = "/var/qmail/mailnames";
    for (const std::string& domain : entries(root)) {
        for (const std::string& mailname : entries(root + "/" + domain)) {
            const std::string home = root + "/" + domain + "/" + mailname;
            if (!isDir(home))
                continue;
            if (exists(home + "/.qmail"))
                checkQmail(home + "/.qmail", found);
            if (exists(home + "/Maildir/maildirsize"))
                checkMaildirsize(home + "/Maildir/maildirsize", found);
            for (const std::string& left : entries(home + "/Maildir/tmp"))
                found.push_back("left in Maildir/tmp: " + home + "/Maildir/tmp/" + left);
        }
    }
}

inline void checkTables(std::vector<std::string>& found) {
    for (const std::string& name : entries(tableDir)) {
        const std::string path = std::string(tableDir) + "/" + name;
        if (readFile(path).rfind("SQLite format 3", 0) == 0)
            continue;
        if (name.size() > 3 && name.compare(name.size() - 3, 3, ".db") == 0) {
            const std::string table = "hash:" + path.substr(0, path.size() - 3);
            const CommandResult dump = runCommand({"/usr/sbin/postmap", "-s", table});
            if (dump.status != 0 || !dump.err.empty())
                found.push_back("unreadable table " + table + ": " + dump.err);
            const std::string base = path.substr(0, path.size() - 3);
            if (exists(base))
                found.push_back("table source left beside its database: " + base);
            if (base.size() > 4 && base.compare(base.size() - 4, 4, ".tmp") == 0)
                found.push_back("temporary table database left: " + path);
        }
    }
}

inline void checkMasterCf(std::vector<std::string>& found) {
    const std::string text = readFile("/etc/postfix/master.cf");
    const CommandResult services = runCommand({"/usr/sbin/postconf", "-M"});
    if (text.empty() || text.back() != '\n' || services.status != 0 ||
        services.out.find("smtp") == std::string::npos)
        found.push_back("master.cf not whole: " + services.err);
}

inline void checkCourier(std::vector<std::string>& found) {
    for (const char* file : {"imapd", "imapd-ssl", "pop3d", "pop3d-ssl"}) {
        const std::string path = std::string("/etc/courier-imap/") + file;
        if (!exists(path))
            continue;
        const std::string text = readFile(path);
        if (text.find("ADDRESS=0\n") == std::string::npos || text.back() != '\n')
            found.push_back("Courier file lost its lines: " + path);
    }
}

} // namespace hardening_detail

inline void HardeningTest::SetUp() {
    PanelDatabaseTest::SetUp();
    createMailAuthDatabase();
    namespace tables = korvo::mail::postfix::tables;
    for (const char* table : {tables::VIRTUAL, tables::VMAILBOX, tables::VIRTUAL_DOMAINS,
                              tables::ALIASES, tables::BLACKLISTS}) {
        const CommandResult made = runCommand({"/usr/sbin/postmap", "-r", "-i", table}, {}, "");
        ASSERT_EQ(made.status, 0) << made.err;
    }
    for (const char* file : {"imapd", "imapd-ssl", "pop3d", "pop3d-ssl"})
        writeFile(std::string("/etc/courier-imap/") + file, "ADDRESS=0\nPOPAUTH=1\n");
}

inline void HardeningTest::vornctl(const std::vector<std::string>& args) {
    const CommandResult result = runVornctl(args);
    ASSERT_EQ(result.status, 0) << args[0] << "\n" << result.err;
}

inline void HardeningTest::addDomain(const std::string& domain) {
    PanelDatabaseTest::addDomain(domain);
    vornctl({"--add-domain", "--domain-name=" + domain});
}

inline void HardeningTest::addMailname(const std::string& domain, const std::string& mailname) {
    PanelDatabaseTest::addMailname(domain, mailname);
    vornctl({"--add-mailname", "--domain-name=" + domain, "--mailname=" + mailname});
}

inline std::vector<std::string> HardeningTest::tableLines() {
    std::vector<std::string> lines;
    for (const std::string& line : takeSnapshot().lines)
        if (line.rfind("table ", 0) == 0)
            lines.push_back(line);
    return lines;
}

inline std::vector<std::string> HardeningTest::damage() {
    std::vector<std::string> found;
    hardening_detail::checkTables(found);
    hardening_detail::checkMailHomes(found);
    hardening_detail::checkMasterCf(found);
    hardening_detail::checkCourier(found);
    for (const std::string& root : snapshotRoots())
        hardening_detail::checkTemporaries(root, found);
    return found;
}

// The lines of a that b lacks (both sorted), for failure messages.
inline std::vector<std::string> missingFrom(const std::vector<std::string>& a,
                                            const std::vector<std::string>& b) {
    std::vector<std::string> missing;
    std::set_difference(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(missing));
    return missing;
}

} // namespace korvo::test

#endif
