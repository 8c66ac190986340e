// The mail handler commands on the real registry in the sandbox.
#include "CommandFixture.h"
#include "mail/handlers/RegistryFixture.h"

namespace korvo::test {
namespace {

std::vector<std::string> handlers() {
    return entriesOf(kInfo);
}

std::vector<std::string> handlerArgs(const std::string& word, const std::string& type,
                                     const std::string& typeName, bool withProgram) {
    std::vector<std::string> args = {word, "--handler-name=spam", "--handler-type=" + type,
                                     "--hook=before-queue"};
    if (!typeName.empty())
        args.push_back("--handler-type-name=" + typeName);
    if (withProgram)
        args.insert(args.end(), {"--executable=/bin/true", "--context=ctx", "--priority=10"});
    return args;
}

int run(const std::vector<std::string>& args) {
    return runVornctl(args).status;
}

using HandlerCommandsTest = SandboxTest;

TEST_F(HandlerCommandsTest, ListsOfAddressesThroughTheirLife) {
    ASSERT_EQ(run(handlerArgs("--add-handler", "recipient", "A@Example.com, b@example.com", true)),
              0);
    // An existing handler is not added twice.
    ASSERT_EQ(run(handlerArgs("--add-handler", "recipient", "a@example.com", true)), 0);
    ASSERT_EQ(handlers().size(), 2u);
    const std::string a = "before-queue/recipient/a@example.com";
    const auto queuedFor = [&a](const std::string& prefix) {
        int count = 0;
        for (const std::string& name : handlers())
            count += name.rfind(prefix, 0) == 0 && pathExists(kRoot + "/" + a + "/" + name);
        return count;
    };
    EXPECT_EQ(queuedFor("10-spam-"), 1);

    // The panel reads --check-handler the other way round.
    EXPECT_EQ(run(handlerArgs("--check-handler", "recipient", "a@example.com", false)), 1);
    EXPECT_EQ(run(handlerArgs("--check-handler", "recipient", "c@example.com", false)), 0);
    EXPECT_EQ(run(handlerArgs("--disable-handler", "recipient", "a@example.com", false)), 0);
    EXPECT_EQ(queuedFor("10-spam-"), 0);
    EXPECT_EQ(run(handlerArgs("--enable-handler", "recipient", "all", false)), 0);
    EXPECT_EQ(queuedFor("10-spam-"), 1);

    // A missing handler in the list is reported, the others still updated.
    const CommandResult update =
        runVornctl({"--update-handler", "--handler-name=spam", "--handler-type=recipient",
                    "--handler-type-name=a@example.com,c@example.com", "--executable", "",
                    "--context", "", "--hook=before-queue", "--priority=20"});
    EXPECT_EQ(update.status, 0) << update.err;
    EXPECT_NE(update.err.find("Handler spam for recipient c@example.com does not exist"),
              std::string::npos)
        << update.err;
    EXPECT_EQ(queuedFor("20-spam-"), 1);

    EXPECT_EQ(
        run(handlerArgs("--remove-handler", "recipient", "a@example.com b@example.com", false)), 0);
    EXPECT_TRUE(handlers().empty());
}

TEST_F(HandlerCommandsTest, GlobalAndDomainHandlersAndHostileValues) {
    ASSERT_EQ(run(handlerArgs("--add-handler", "global", "", true)), 0);
    EXPECT_EQ(run(handlerArgs("--check-handler", "global", "", false)), 1);
    EXPECT_EQ(run(handlerArgs("--remove-handler", "global", "", false)), 0);
    const CommandResult none = runVornctl(handlerArgs("--remove-handler", "global", "", false));
    EXPECT_EQ(none.status, 0);
    EXPECT_EQ(none.out + none.err, "");
    EXPECT_EQ(run(handlerArgs("--add-handler", "sender", "", true)), 1); // no --handler-type-name

    const std::vector<std::string> add = handlerArgs("--add-handler", "sender-domain",
                                                     "b\xc3\xbc"
                                                     "cher.example",
                                                     true);
    ASSERT_EQ(run(add), 0);
    ASSERT_EQ(handlers().size(), 1u);
    EXPECT_EQ(param(handlers()[0], "sender-domain"), "xn--bcher-kva.example\n");

    const auto with = [](std::vector<std::string> args, const std::string& option,
                         const std::string& value = "NAME") {
        for (std::string& arg : args)
            if (arg.rfind(option + "=", 0) == 0)
                arg = option + "=" + value;
        return args;
    };
    // Commas and blanks separate the list; every other hostile byte is refused.
    const std::vector<std::string> listed = {
        "/", "..", "../../etc", "a\nb", "a\tb", "a'b", "a\"b", std::string(300, 'x'), "\xff\xfe"};
    expectHostileNamesRefused(with(handlerArgs("--add-handler", "recipient", "x", true),
                                   "--handler-type-name", "NAME@example.com"),
                              listed);
    expectHostileNamesRefused(with(add, "--handler-type-name"), listed);
    expectHostileNamesRefused(
        with(handlerArgs("--remove-handler", "sender-domain", "x.example", false), "--hook"),
        {"/", "..", "../../etc", "a\nb", "\xff"});
    expectHostileNamesRefused(with(add, "--context"), {"a\nb", "a\tb", "\xff\xfe"});
    expectHostileNamesRefused(with(add, "--priority"), {"-1", "1/2", "a\nb", "10 "});
    EXPECT_EQ(handlers().size(), 1u);
}

} // namespace
} // namespace korvo::test
