// A sandbox with an empty handler registry, and readers of what the
// registry holds on disk.
#ifndef KORVO_TESTS_MAIL_HANDLERS_REGISTRYFIXTURE_H
#define KORVO_TESTS_MAIL_HANDLERS_REGISTRYFIXTURE_H

#include "mail/handlers/HandlerRegistry.h"
#include "mail/handlers/MailHandlers.h"
#include "mail/settings/Autoresponder.h"
#include "sandbox/Sandbox.h"
#include "sandbox/TestFiles.h"

#include <cstdlib>
#include <string>
#include <vector>

namespace korvo::test {

const std::string kRoot = KORVO_HANDLERS_ROOT;
const std::string kInfo = KORVO_HANDLERS_INFO_D;

// A parameter file of a handler, as stored.
inline std::string param(const std::string& name, const std::string& parameter) {
    return readFile(kInfo + "/" + name + "/" + parameter);
}

// The registered name of a handler; "" when there is none.
inline std::string handlerName(const std::string& templ, const std::string& type,
                               const std::string& value, const std::string& hook = "before-local") {
    char* found = get_handler_name(templ.c_str(), type.c_str(), value.c_str(), hook.c_str());
    const std::string name = found != nullptr ? found : "";
    std::free(found);
    return name;
}

// The autoresponder's hook program where the handlers it adds run it.
inline void installAutoresponderHook() {
    ASSERT_EQ(shell("mkdir -p /usr/local/orq/handlers/hooks && install -m 0755 " +
                    sandboxFile("autoresponder-hook") + " " KORVO_AUTORESPONDER_HOOK),
              0);
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
        for (const std::string& name : entries(kInfo))
            if (name.find(part) != std::string::npos)
                found.push_back(name);
        EXPECT_EQ(found.size(), 1u) << part;
        return found.empty() ? "" : found.front();
    }
};

} // namespace korvo::test

#endif
