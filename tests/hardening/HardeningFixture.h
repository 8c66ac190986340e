// A server with panel and auth databases and empty tables, and the wholeness
// checks every fault scenario ends with.
#ifndef KORVO_TESTS_HARDENING_HARDENINGFIXTURE_H
#define KORVO_TESTS_HARDENING_HARDENINGFIXTURE_H

#include "front/CommandFixture.h"
#include "postfix/tables/Tables.h"
#include "sandbox/MailAuthDatabase.h"
#include "sandbox/PanelDatabase.h"
#include "sandbox/Snapshot.h"
#include "sandbox/TestFiles.h"

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

namespace korvo::test {

namespace hardening_detail {

namespace fs = std::filesystem;

// The paths below dir, links not followed; none when unreadable.
inline std::vector<fs::path> paths(const fs::path& dir) {
    std::vector<fs::path> found;
    for (const std::string& name : entries(dir))
        found.push_back(dir / name);
    return found;
}

// ".tmp", ".korvo-new" or a random 6-character suffix after a sibling's name.
inline void checkTemporaries(const fs::path& root, std::vector<std::string>& found) {
    static const std::regex suffix(R"(.+\.(tmp|tmp\.db|korvo-new))");
    static const std::regex random(R"((.+)\.[A-Za-z0-9]{6})");
    std::error_code error;
    for (fs::recursive_directory_iterator it(root, error), end; !error && it != end;
         it.increment(error)) {
        const std::string name = it->path().filename();
        std::smatch match;
        if (std::regex_match(name, suffix) ||
            (std::regex_match(name, match, random) &&
             test::exists(it->path().parent_path() / match[1].str())))
            found.push_back("temporary left: " + it->path().string());
    }
}

inline void checkMailHomes(std::vector<std::string>& found) {
    static const std::regex qmail(
        R"(\| true\n(\| true\n|\| /usr/bin/deliverquota \./Maildir\n|&[^\n]+@[^\n]+\n)*)");
    static const std::regex maildirsize(R"(\d+S,\d+C\n( *-?\d+ *-?\d+\n)+)");
    for (const fs::path& domain : paths("/var/qmail/mailnames")) {
        for (const fs::path& home : paths(domain)) {
            if (test::exists(home / ".qmail") &&
                !std::regex_match(readFile(home / ".qmail"), qmail))
                found.push_back("partial .qmail: " + home.string());
            if (test::exists(home / "Maildir/maildirsize") &&
                !std::regex_match(readFile(home / "Maildir/maildirsize"), maildirsize))
                found.push_back("partial maildirsize: " + home.string());
            for (const fs::path& left : paths(home / "Maildir/tmp"))
                found.push_back("left in Maildir/tmp: " + left.string());
        }
    }
}

inline void checkTables(std::vector<std::string>& found) {
    for (const fs::path& path : paths("/var/spool/postfix/korvo")) {
        if (path.extension() != ".db" || readFile(path).rfind("SQLite format 3", 0) == 0)
            continue;
        const fs::path base = fs::path(path).replace_extension();
        const CommandResult dump = runCommand({"/usr/sbin/postmap", "-s", "hash:" + base.string()});
        if (dump.status != 0 || !dump.err.empty())
            found.push_back("unreadable table " + base.string() + ": " + dump.err);
        if (test::exists(base))
            found.push_back("table source left beside its database: " + base.string());
    }
}

inline void checkConfiguration(std::vector<std::string>& found) {
    const std::string master = readFile("/etc/postfix/master.cf");
    const CommandResult services = runCommand({"/usr/sbin/postconf", "-M"});
    if (master.empty() || master.back() != '\n' || services.status != 0 ||
        services.out.find("smtp") == std::string::npos)
        found.push_back("master.cf not whole: " + services.err);
    for (const char* file : {"imapd", "imapd-ssl", "pop3d", "pop3d-ssl"}) {
        const std::string path = std::string("/etc/courier-imap/") + file;
        const std::string text = readFile(path);
        if (test::exists(path) &&
            (text.find("ADDRESS=0\n") == std::string::npos || text.back() != '\n'))
            found.push_back("Courier file lost its lines: " + path);
    }
}

} // namespace hardening_detail

class HardeningTest : public PanelDatabaseTest {
protected:
    void SetUp() override {
        PanelDatabaseTest::SetUp();
        createMailAuthDatabase();
        namespace tables = korvo::mail::postfix::tables;
        for (const char* table : {tables::VIRTUAL, tables::VMAILBOX, tables::VIRTUAL_DOMAINS,
                                  tables::ALIASES, tables::BLACKLISTS})
            ASSERT_EQ(runCommand({"/usr/sbin/postmap", "-r", "-i", table}).status, 0) << table;
        for (const char* file : {"imapd", "imapd-ssl", "pop3d", "pop3d-ssl"})
            writeFile(std::string("/etc/courier-imap/") + file, "ADDRESS=0\nPOPAUTH=1\n");
    }

    // The main.test/info mailbox with a forward and a quota.
    static void addMailbox() {
        serveDomain("main.test");
        serveMailname("main.test", "info");
        succeeds({"--add-mailbox", "--domain-name=main.test", "--mailname=info"});
        succeeds({"--add-redirect", "--domain-name=main.test", "--mailname=info",
                  "--redirect-email=first@example.org"});
        succeeds({"--set-mailbox-disk-quota", "--domain-name=main.test", "--mailname=info",
                  "--disk-quota=100000"});
    }

    // The snapshot's "table ..." lines.
    static std::vector<std::string> tableLines() {
        std::vector<std::string> lines;
        for (const std::string& line : takeSnapshot().lines)
            if (line.rfind("table ", 0) == 0)
                lines.push_back(line);
        return lines;
    }

    // Unreadable tables or master.cf, partial .qmail/maildirsize/Courier
    // files, temporaries left anywhere; empty when all is well.
    static std::vector<std::string> damage() {
        std::vector<std::string> found;
        hardening_detail::checkTables(found);
        hardening_detail::checkMailHomes(found);
        hardening_detail::checkConfiguration(found);
        for (const std::string& root : snapshotRoots())
            hardening_detail::checkTemporaries(root, found);
        return found;
    }
};

// The lines of a that b lacks (both sorted), for failure messages.
inline std::vector<std::string> missingFrom(const std::vector<std::string>& a,
                                            const std::vector<std::string>& b) {
    std::vector<std::string> missing;
    std::set_difference(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(missing));
    return missing;
}

} // namespace korvo::test

#endif
