// Whole-file reads and writes, directory listings, and the files of tests/data.
#ifndef KORVO_TESTS_SANDBOX_TESTFILES_H
#define KORVO_TESTS_SANDBOX_TESTFILES_H

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace korvo::test {

// The file's bytes; empty when it cannot be read.
inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

inline void writeFile(const std::string& path, const std::string& content) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

// A file of tests/data.
inline std::string testData(const std::string& name) {
    return readFile(VORNCTL_TEST_DATA_DIR "/" + name);
}

inline struct stat statOf(const std::string& path) {
    struct stat st {};
    ::lstat(path.c_str(), &st);
    return st;
}

// Whether anything, a dangling link too, is at path.
inline bool exists(const std::string& path) {
    return statOf(path).st_mode != 0;
}

// A shell script of body at path, mode 0755; returns path.
inline std::string writeScript(const std::string& path, const std::string& body) {
    writeFile(path, "#!/bin/sh\n" + body + "\n");
    ::chmod(path.c_str(), 0755);
    return path;
}

inline std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        result.push_back(line);
    return result;
}

// The entry names of a directory, sorted; none when it cannot be read.
inline std::vector<std::string> entries(const std::string& directory) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(directory, error))
        names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace korvo::test

#endif
