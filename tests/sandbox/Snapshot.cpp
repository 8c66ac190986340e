#include "sandbox/Snapshot.h"

#include "sandbox/CommandRunner.h"
#include "sandbox/TestFiles.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <iterator>
#include <memory>
#include <openssl/evp.h>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace korvo::test {

namespace {

const char sqliteMagic[] = "SQLite format 3";

std::string sha256(const std::string& data) {
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(data.data(), data.size(), md, &length, EVP_sha256(), nullptr) != 1)
        throw std::runtime_error("SHA-256 failed");
    std::string hex(2 * length, '0');
    for (unsigned int i = 0; i < length; ++i)
        std::snprintf(&hex[2 * i], 3, "%02x", md[i]);
    return hex;
}

char typeOf(mode_t mode) {
    const std::pair<mode_t, char> types[] = {{S_IFDIR, 'd'},  {S_IFREG, 'f'}, {S_IFLNK, 'l'},
                                             {S_IFSOCK, 's'}, {S_IFIFO, 'p'}, {S_IFCHR, 'c'},
                                             {S_IFBLK, 'b'}};
    for (const auto& [type, letter] : types)
        if ((mode & S_IFMT) == type)
            return letter;
    return '?';
}

void addLines(std::vector<std::string>& lines, const std::string& prefix, const std::string& text) {
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(prefix + line);
}

// What a program printed, or its failure, as snapshot lines.
void addDump(std::vector<std::string>& lines, const std::string& prefix,
             const std::vector<std::string>& argv) {
    const CommandResult result = runCommand(argv);
    if (result.status != 0)
        lines.push_back(prefix + "FAILED " + std::to_string(result.status) + " " + result.err);
    addLines(lines, prefix, result.out);
}

struct Walker {
    std::vector<std::string>& lines;
    std::vector<std::string> tables;
    std::vector<std::string> sqliteFiles;

    void entry(const std::string& path) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0)
            throw std::runtime_error("lstat " + path + ": " + std::strerror(errno));
        char head[64];
        std::snprintf(head, sizeof head, " %c %04o %u:%u", typeOf(st.st_mode),
                      static_cast<unsigned>(st.st_mode & 07777), static_cast<unsigned>(st.st_uid),
                      static_cast<unsigned>(st.st_gid));
        std::string line = "file " + path + head;
        if (S_ISREG(st.st_mode)) {
            const std::string content = readFile(path);
            line += " " + std::to_string(st.st_size) + " " + sha256(content);
            if (content.compare(0, sizeof sqliteMagic - 1, sqliteMagic) == 0)
                sqliteFiles.push_back(path);
            else if (path.size() > 3 && path.compare(path.size() - 3, 3, ".db") == 0)
                tables.push_back(path.substr(0, path.size() - 3));
        } else if (S_ISLNK(st.st_mode)) {
            std::string target(4096, '\0');
            const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
            target.resize(n < 0 ? 0 : static_cast<std::size_t>(n));
            line += " -> " + target;
        }
        lines.push_back(line);
        if (S_ISDIR(st.st_mode))
            directory(path);
    }

    void directory(const std::string& path) {
        const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(path.c_str()), ::closedir);
        if (!dir)
            throw std::runtime_error("opendir " + path + ": " + std::strerror(errno));
        std::vector<std::string> names;
        while (const dirent* e = ::readdir(dir.get())) {
            const std::string name = e->d_name;
            if (name != "." && name != "..")
                names.push_back(name);
        }
        for (const std::string& name : names)
            entry(path + "/" + name);
    }
};

} // namespace

const std::vector<std::string>& snapshotRoots() {
    static const std::vector<std::string> roots = {
        "/var/spool/postfix", "/etc/postfix",    "/var/qmail",
        "/usr/local/orq",     "/etc/domainkeys", "/etc/orq-spf",
        "/etc/courier-imap",  "/etc/orq",        "/var/lib/korvo"};
    return roots;
}

Snapshot takeSnapshot(const std::string& extra) {
    Snapshot snapshot;
    Walker walker{snapshot.lines, {}, {}};
    for (const std::string& root : snapshotRoots()) {
        if (::access(root.c_str(), F_OK) != 0)
            snapshot.lines.push_back("file " + root + " missing");
        else
            walker.entry(root);
    }
    for (const std::string& table : walker.tables)
        addDump(snapshot.lines, "table hash:" + table + "\t",
                {"/usr/sbin/postmap", "-s", "hash:" + table});
    for (const std::string& file : walker.sqliteFiles)
        addDump(snapshot.lines, "sqlite " + file + "\t",
                {"/usr/bin/sqlite3", "-readonly", file, ".dump"});
    addLines(snapshot.lines, "extra ", extra);
    std::sort(snapshot.lines.begin(), snapshot.lines.end());
    return snapshot;
}

::testing::AssertionResult compareSnapshots(const Snapshot& before, const Snapshot& after) {
    std::vector<std::string> gone;
    std::vector<std::string> added;
    std::set_difference(before.lines.begin(), before.lines.end(), after.lines.begin(),
                        after.lines.end(), std::back_inserter(gone));
    std::set_difference(after.lines.begin(), after.lines.end(), before.lines.begin(),
                        before.lines.end(), std::back_inserter(added));
    if (gone.empty() && added.empty())
        return ::testing::AssertionSuccess();
    ::testing::AssertionResult failure = ::testing::AssertionFailure()
                                         << "the sandbox changed (- before only, + after only):\n";
    for (const std::string& line : gone)
        failure << "- " << line << "\n";
    for (const std::string& line : added)
        failure << "+ " << line << "\n";
    return failure;
}

} // namespace korvo::test
