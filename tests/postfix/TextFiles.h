// Whole-file reads and writes for tests that compare files byte for byte.
#ifndef KORVO_TESTS_POSTFIX_TEXTFILES_H
#define KORVO_TESTS_POSTFIX_TEXTFILES_H

#include <fstream>
#include <sstream>
#include <string>

namespace korvo::test {

// The file's bytes; empty when it cannot be read.
inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline void writeFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// A file of tests/data.
inline std::string testData(const std::string& name) {
    return readFile(VORNCTL_TEST_DATA_DIR "/" + name);
}

} // namespace korvo::test

#endif
