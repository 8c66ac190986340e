// The usage text of every mail command: description, syntax, then one line
// per option in declaration order and the help switch last.
#include "CommandFixture.h"

#include <array>
#include <map>

namespace korvo::test {
namespace {

using Option = std::pair<const char*, const char*>;

// Option lines by letter, so that each command's table row fits one line.
const std::map<char, Option> options = {
    {'d', {"--domain-name arg", "domain name (mandatory)"}},
    {'m', {"--mailname arg", "mailname (mandatory)"}},
    {'q', {"--disk-quota arg", "disk quota"}},
    {'Q', {"--disk-quota arg", "disk quota (mandatory)"}},
    {'D', {"-D [ --mail-domain-disabled ]", "the domain is disabled (currently unused)"}},
    {'o', {"--old-mailname arg", "old mailname (mandatory)"}},
    {'n', {"--new-mailname arg", "new mailname (mandatory)"}},
    {'i', {"--in-blocks", "count result in blocks rather than bytes"}},
    {'R', {"--redirect-email arg", "redirect email (mandatory)"}},
    {'A', {"--alias arg", "alias email (mandatory)"}},
    {'E', {"--email arg", "catchall e-mail address (mandatory)"}},
    {'a', {"--domain-alias-name arg", "domain alias name (mandatory)"}},
    {'O', {"--old-domain-alias-name arg", "old domain alias name (mandatory)"}},
    {'N', {"--new-domain-alias-name arg", "new domain alias name (mandatory)"}},
    {'c', {"--set-catchall", "set a domain catchall address"}},
    {'e', {"--email arg", "catchall e-mail address"}},
    {'b', {"--set-bounce", "set a domain bounce"}},
    {'p', {"--phrase arg", "phrase"}},
    {'r', {"--set-reject", "set domain reject flag"}},
    {'f', {"--file-name arg", "full path to uploaded key (mandatory)"}},
    {'h', {"-h [ --help ]", "displays this help message"}}};

// syntax follows the command word in the usage line.
void expectUsage(const std::string& word, const std::string& description, const std::string& syntax,
                 const std::string& letters) {
    const CommandResult result = runVornctl({word, "--domain-name=x", "--help"});
    EXPECT_EQ(result.status, 0) << word;
    EXPECT_EQ(result.err, "") << word;
    std::string expected =
        description + "\nUsage: " + word + syntax + "\nAllowed options to " + description + ":\n";
    EXPECT_EQ(result.out.substr(0, expected.size()), expected);
    std::istringstream lines(result.out.substr(std::min(expected.size(), result.out.size())));
    for (const char letter : letters + "h") {
        const auto& [column, help] = options.at(letter);
        std::string line;
        std::getline(lines, line);
        const std::string start = std::string("  ") + column + " ";
        EXPECT_EQ(line.substr(0, start.size()), start) << word;
        const std::size_t at = line.find_first_not_of(' ', start.size());
        EXPECT_EQ(at == std::string::npos ? "" : line.substr(at), help) << word;
    }
    EXPECT_EQ(lines.str().substr(lines.tellg()), "\n") << word;
}

using HelpTextsTest = SandboxTest;

TEST_F(HelpTextsTest, EveryMailCommand) {
    const std::string dm = " --domain-name=<domain_name> --mailname=<mail_name>";
    const std::string disabled = " [--mail-domain-disabled|-D]";
    const std::string password =
        disabled + "\n        The noncrypted password is transferred in the environment "
                   "variable ORQ_PASSWORD,\n        or crypted password is transferred in the "
                   "environment variable ORQ_CRYPTED_PASSWORD";
    const std::string alias =
        " --domain-name=<domain_name> --domain-alias-name=<domain_alias_name>";
    const std::string choice = " <--set-bounce 'text'| --set-catchall 'email' | --set-reject>";
    const std::vector<std::array<std::string, 4>> usages = {
        {"--add-domain", "add a domain", " --domain-name=<domain> [--disk-quota=quota]", "dq"},
        {"--remove-domain", "remove a domain", " --domain-name=<domain>", "d"},
        {"--turn-on-domain", "enable a domain", " --domain-name=<domain>", "d"},
        {"--turn-off-domain", "disable a domain", " --domain-name=<domain>", "d"},
        {"--set-domain-disk-quota", "set a domain disk quota",
         " --domain-name=<domain> --disk-quota=quota", "dQ"},
        {"--set-bounce", "set a domain bounce", " --domain-name=<domain_name> [--phrase=<phrase>]",
         "dp"},
        {"--set-catchall", "set a domain catchall address",
         " --domain-name=<domain_name> --email=<email_address>", "dE"},
        {"--set-reject", "set domain reject flag", " --domain-name=<domain-name>", "d"},
        {"--unset-reject", "remove domain reject flag", " --domain-name=<domain-name>", "d"},
        {"--add-mailname", "add a mailname", dm + " [--disk-quota=<quota>]", "dmq"},
        {"--remove-mailname", "remove a mailname", dm, "dm"},
        {"--rename-mailname", "rename a mailname",
         " --domain-name=<domain_name> --old-mailname=<old_mail_name> "
         "--new-mailname=<new_mail_name>" +
             disabled,
         "donD"},
        {"--add-mailbox", "add mailname's mailbox", dm + password, "dmD"},
        {"--remove-mailbox", "remove mailname's mailbox", dm, "dm"},
        {"--set-password", "set mailname's password", dm + password, "dmD"},
        {"--get-mailbox-size", "get mailbox size", " [--in-blocks]" + dm, "idm"},
        {"--set-mailbox-disk-quota", "set mailbox disk quota", dm + " --disk-quota=<quota>", "dmQ"},
        {"--set-autoresponder", "add autoresponder for a given mailname", dm, "dm"},
        {"--reset-autoresponder", "remove autoresponder for a given mailname", dm, "dm"},
        {"--add-redirect", "add a redirect", dm + " --redirect-email=<email>", "dmR"},
        {"--remove-redirect", "remove a given redirect", dm + " --redirect-email=<email>", "dmR"},
        {"--add-alias", "add alias for a given mailname", dm + " --alias=<email_alias>", "dmA"},
        {"--remove-alias", "remove alias for a given mailname", dm + " --alias=<email_alias>",
         "dmA"},
        {"--add-domain-alias", "add a domain alias", alias + choice, "dacebpr"},
        {"--del-domain-alias", "remove a domain alias", alias, "da"},
        {"--rename-domain-alias", "rename a given domain alias",
         " --domain-name=<domain_name> --old-domain-alias-name=<old_domain_alias_name> "
         "--new-domain-alias-name=<new_domain_alias_name>" +
             choice,
         "dONcebpr"},
        {"--set-domain-key", "set DomainKey",
         " --domain-name=<domain,domain,... > --file-name=<full_file_name>", "df"},
        {"--remove-domain-key", "remove DomainKey", " --domain-name=<domain,domain,...>", "d"},
    };
    for (const auto& [word, description, syntax, letters] : usages)
        expectUsage(word, description, syntax, letters);
}

} // namespace
} // namespace korvo::test
