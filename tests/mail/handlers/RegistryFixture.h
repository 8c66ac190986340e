// A sandbox with an empty handler registry, and readers of what the
// registry holds on disk.
#ifndef KORVO_TESTS_MAIL_HANDLERS_REGISTRYFIXTURE_H
#define KORVO_TESTS_MAIL_HANDLERS_REGISTRYFIXTURE_H

#include "mail/handlers/HandlerRegistry.h"
#include "mail/handlers/MailHandlers.h"
#include "sandbox/Sandbox.h"
#include "sandbox/TestFiles.h"

#include <algorithm>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace korvo::test {

const std::string kRoot = KORVO_HANDLERS_ROOT;
const std::string kInfo = KORVO_HANDLERS_INFO_D;

// Entry names of a directory, sorted; empty when it does not exist.
inline std::vector<std::string> entriesOf(const std::string& path) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(path, error))
        names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

inline bool pathExists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

// A parameter file of a handler, as stored.
inline std::string param(const std::string& name, const std::string& parameter) {
    return readFile(kInfo + "/" + name + "/" + parameter);
}

class RegistryTest : public SandboxTest {
protected:
    // Adds a handler running /bin/true with priority 10.
    static void add(const char* templ, const char* type, const char* value, int action,
                    const char* hook = "before-local", const char* context = "c") {
        ASSERT_EQ(mail_handler_add(templ, type, value, "/bin/true", context, hook, "10", action),
                  0);
    }

    // The one handler whose name contains part; fails the test otherwise.
    static std::string handlerWith(const std::string& part) {
        std::vector<std::string> found;
        for (const std::string& name : entriesOf(kInfo))
            if (name.find(part) != std::string::npos)
                found.push_back(name);
        EXPECT_EQ(found.size(), 1u) << part;
        return found.empty() ? "" : found.front();
    }
};

} // namespace korvo::test

#endif
