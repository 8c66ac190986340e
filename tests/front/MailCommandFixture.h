// The domain, mailname and domain alias command tests: the built vornctl
// against the real postmap, a real panel MariaDB, a real SQLite
// authentication database and the handler registry on disk. State is read
// back with postmap -s, sqlite3, the mariadb client and the file system.
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

    // One command's usage: its description and syntax, then one line per
    // option in declaration order, each as the option's column and its help,
    // and the help switch last.
    struct Usage {
        const char* word;
        const char* description;
        std::string syntax;
        std::vector<std::pair<const char*, const char*>> options;
    };

    static void expectUsage(const Usage& usage) {
        const CommandResult result = runVornctl({usage.word, "--domain-name=x", "--help"});
        EXPECT_EQ(result.status, 0) << usage.word;
        EXPECT_EQ(result.err, "") << usage.word;
        std::string expected = std::string(usage.description) + "\nUsage: " + usage.syntax +
                               "\nAllowed options to " + usage.description + ":\n";
        auto options = usage.options;
        options.emplace_back("-h [ --help ]", "displays this help message");
        std::istringstream lines(result.out.substr(std::min(expected.size(), result.out.size())));
        EXPECT_EQ(result.out.substr(0, expected.size()), expected);
        for (const auto& [column, help] : options) {
            std::string line;
            std::getline(lines, line);
            const std::string start = std::string("  ") + column + " ";
            EXPECT_EQ(line.substr(0, start.size()), start) << usage.word;
            const std::size_t at = line.find_first_not_of(' ', start.size());
            EXPECT_EQ(at == std::string::npos ? "" : line.substr(at), help) << usage.word;
        }
        EXPECT_EQ(lines.str().substr(lines.tellg()), "\n") << usage.word;
    }

    // An option error: the message on both streams, the usage after it on
    // standard output, status 1.
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
