// Whole-file reads and writes, and the files of tests/data.
#ifndef KORVO_TESTS_SANDBOX_TESTFILES_H
#define KORVO_TESTS_SANDBOX_TESTFILES_H

#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>

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

} // namespace korvo::test

#endif
