#include "sandbox/Snapshot.h"

#include "sandbox/CommandRunner.h"
#include "sandbox/TestFiles.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iterator>
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

// The type's letter, indexed by the S_IFMT bits (fifo 1, char 2, dir 4, block 6, file 8,
// link 10, socket 12).
char typeOf(mode_t mode) {
    return "?pc?d?b?f?l?s???"[(mode & S_IFMT) >> 12];
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

// The entry's snapshot line; hash tables and SQLite files are noted for their dumps.
std::string entryLine(const std::string& path, std::vector<std::string>& tables,
                      std::vector<std::string>& sqliteFiles) {
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
        line += " -> " + std::filesystem::read_symlink(path).string();
    }
    return line;
}

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
    std::vector<std::string> tables, sqliteFiles;
    for (const std::string& root : snapshotRoots()) {
        if (::access(root.c_str(), F_OK) != 0) {
            snapshot.lines.push_back("file " + root + " missing");
            continue;
        }
        snapshot.lines.push_back(entryLine(root, tables, sqliteFiles));
        // Links are listed, never followed; an unreadable directory throws.
        if (std::filesystem::is_directory(std::filesystem::symlink_status(root)))
            for (const auto& entry : std::filesystem::recursive_directory_iterator(root))
                snapshot.lines.push_back(entryLine(entry.path().string(), tables, sqliteFiles));
    }
    for (const std::string& table : tables)
        addDump(snapshot.lines, "table hash:" + table + "\t",
                {"/usr/sbin/postmap", "-s", "hash:" + table});
    for (const std::string& file : sqliteFiles)
        addDump(snapshot.lines, "sqlite " + file + "\t",
                {"/usr/bin/sqlite3", "-readonly", file, ".dump"});
    addLines(snapshot.lines, "extra ", extra);
    std::sort(snapshot.lines.begin(), snapshot.lines.end());
    return snapshot;
}

::testing::AssertionResult compareSnapshots(const Snapshot& before, const Snapshot& after) {
    std::string changes;
    const auto only = [&changes](const Snapshot& in, const Snapshot& notIn, const char* mark) {
        std::vector<std::string> lines;
        std::set_difference(in.lines.begin(), in.lines.end(), notIn.lines.begin(),
                            notIn.lines.end(), std::back_inserter(lines));
        for (const std::string& line : lines)
            changes += mark + line + "\n";
    };
    only(before, after, "- ");
    only(after, before, "+ ");
    if (changes.empty())
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "the sandbox changed (- before only, + after only):\n"
                                         << changes;
}

} // namespace korvo::test
