// Small file helpers shared by the utility tests.
#ifndef KORVO_TESTS_UTILS_TESTFILES_H
#define KORVO_TESTS_UTILS_TESTFILES_H

#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>

namespace korvo::test {

inline std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

inline void writeFile(const std::string& path, const std::string& content) {
    std::ofstream(path) << content;
}

inline struct stat statOf(const std::string& path) {
    struct stat st {};
    ::lstat(path.c_str(), &st);
    return st;
}

} // namespace korvo::test

#endif
