// The mail command tests: the built vornctl against the real postmap, the
// panel MariaDB, the SQLite authentication database and the handler registry.
#ifndef KORVO_TESTS_FRONT_MAILCOMMANDFIXTURE_H
#define KORVO_TESTS_FRONT_MAILCOMMANDFIXTURE_H

#include "CommandFixture.h"
#include "mail/handlers/RegistryFixture.h"
#include "postfix/managers/ManagerFixture.h"
#include "sandbox/MailAuthDatabase.h"

namespace korvo::test {

class MailCommandTest : public ManagerTest {
protected:
    void SetUp() override {
        ManagerTest::SetUp();
        if (HasFatalFailure())
            return;
        createMailAuthDatabase();
        ASSERT_EQ(shell("mkdir -p /usr/local/orq/handlers/hooks && install -m 0755 " +
                        sandboxFile("autoresponder-hook") +
                        " /usr/local/orq/handlers/hooks/autoresponder"),
                  0);
    }

    // Runs vornctl and expects status 0 with nothing on either stream.
    static void ok(const std::vector<std::string>& args, const std::vector<std::string>& env = {}) {
        const CommandResult result = runVornctl(args, env);
        EXPECT_EQ(result.status, 0) << args[0] << "\n" << result.err;
        EXPECT_EQ(result.err, "") << args[0];
        EXPECT_EQ(result.out, "") << args[0];
    }

    // Status 1, the message on both streams, the usage after it on stdout.
    static void expectOptionError(const std::vector<std::string>& args,
                                  const std::string& message) {
        const CommandResult result = runVornctl(args);
        EXPECT_EQ(result.status, 1) << args[0];
        EXPECT_EQ(result.err, message + "\n") << args[0];
        EXPECT_EQ(result.out.substr(0, result.err.size()), result.err) << args[0];
        EXPECT_NE(result.out.find("\nUsage: " + args[0] + " "), std::string::npos) << result.out;
    }

    static std::string missing(const std::string& option) {
        return "mandatory option \"--" + option + "\" is not specified";
    }

    // The status and the "Fatal error: " line main writes on both streams.
    static void expectFatal(const std::vector<std::string>& args, const std::string& line,
                            const std::vector<std::string>& env = {}) {
        const CommandResult result = runVornctl(args, env);
        EXPECT_EQ(result.status, 1) << args[0];
        EXPECT_EQ(result.err, "Fatal error: " + line + "\n") << args[0];
        EXPECT_EQ(result.out, result.err) << args[0];
    }

    // Names of the registered mail handlers, sorted.
    static std::vector<std::string> handlers() { return entriesOf(kInfo); }

    static constexpr const char* virtualTable = "hash:/var/spool/postfix/korvo/virtual";
    static constexpr const char* mailboxTable = "hash:/var/spool/postfix/korvo/vmailbox";
    static constexpr const char* domainsTable = "hash:/var/spool/postfix/korvo/virtual_domains";
    static constexpr const char* aliasesTable = "hash:/var/spool/postfix/korvo/aliases";
};

} // namespace korvo::test

#endif
