// What a command costs must not grow with the domain it works on: the
// postmap and postconf runs, the panel-database connections, the passes
// over the mail-handler registry and the openings of the authentication
// database of each command are counted with strace
// for a domain with 1 and with 10 domain aliases and 10 and 1000 mailnames,
// and must be the same for all four.
#include "hardening/HardeningFixture.h"

#include <map>
#include <sstream>

namespace korvo::test {
namespace {

const char trace[] = "/run/vornctl-sandbox/cost.trace";
const char panelSocket[] = "/run/mysqld/mysqld.sock";
// Every pass over the registry opens its list of handlers.
const char registryList[] = "\"/usr/local/orq/handlers/info\"";
const char authDatabase[] = "\"/var/spool/postfix/korvo/passwd.db\"";

struct Cost {
    int postmap = 0;
    int postconf = 0;
    int panel = 0;
    int registry = 0;
    int auth = 0;

    bool operator==(const Cost& other) const {
        return postmap == other.postmap && postconf == other.postconf && panel == other.panel &&
               registry == other.registry && auth == other.auth;
    }
};

std::ostream& operator<<(std::ostream& out, const Cost& cost) {
    return out << "postmap " << cost.postmap << ", postconf " << cost.postconf << ", panel "
               << cost.panel << ", registry " << cost.registry << ", auth " << cost.auth;
}

using Costs = std::map<std::string, Cost>;

// Runs the tool under strace and counts the programs it started, its
// connections to the panel's socket, its listings of the registry and its
// openings of the authentication database.
Cost costOf(const std::vector<std::string>& args, const std::vector<std::string>& env = {}) {
    std::vector<std::string> argv = {
        "/usr/bin/strace",         "-f",          "-qq", "-s256", "-etrace=execve,connect,openat",
        std::string("-o") + trace, VORNCTL_BINARY};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> traced = env;
    traced.push_back("ASAN_OPTIONS=detect_leaks=0"); // LeakSanitizer refuses to run under ptrace
    const CommandResult result = runCommand(argv, traced);
    EXPECT_EQ(result.status, 0) << args[0] << ": " << result.err;
    Cost cost;
    std::istringstream lines(readFile(trace));
    for (std::string line; std::getline(lines, line);) {
        if (line.find("execve(\"/usr/sbin/postmap\"") != std::string::npos)
            ++cost.postmap;
        else if (line.find("execve(\"/usr/sbin/postconf\"") != std::string::npos)
            ++cost.postconf;
        else if (line.find("connect(") != std::string::npos &&
                 line.find(panelSocket) != std::string::npos)
            ++cost.panel;
        else if (line.find("openat(") != std::string::npos &&
                 line.find(registryList) != std::string::npos)
            ++cost.registry;
        else if (line.find("openat(") != std::string::npos &&
                 line.find(authDatabase) != std::string::npos)
            ++cost.auth;
    }
    return cost;
}

class CostCountTest : public HardeningTest {
protected:
    // A served domain with its aliases and mailnames m0..m(n-1) in the
    // panel; m0 has a mailbox with a password and the mail alias "sales".
    static void seedDomain(const std::string& domain, int aliases, int mailnames) {
        std::vector<std::string> aliasNames;
        for (int i = 0; i < aliases; ++i)
            aliasNames.push_back("alias" + std::to_string(i) + "." + domain);
        PanelDatabaseTest::addDomain(domain, aliasNames);
        vornctl({"--add-domain", "--domain-name=" + domain});
        std::string rows;
        for (int i = 0; i < mailnames; ++i)
            rows += std::string(rows.empty() ? "" : ", ") + "('m" + std::to_string(i) + "', @dom)";
        panelSql("SELECT id INTO @dom FROM domains WHERE name=" + sqlLiteral(domain) +
                 "; INSERT INTO mail (mail_name, dom_id) VALUES " + rows +
                 "; INSERT INTO mail_aliases (mn_id, alias) SELECT id, 'sales' FROM mail "
                 "WHERE dom_id=@dom AND mail_name='m0'");
        for (const std::string& name : {std::string("m0"), std::string("m1")})
            vornctl({"--add-mailname", "--domain-name=" + domain, "--mailname=" + name});
        const CommandResult mailbox = runVornctl(
            {"--add-mailbox", "--domain-name=" + domain, "--mailname=m0"}, {"ORQ_PASSWORD=pw"});
        ASSERT_EQ(mailbox.status, 0) << mailbox.err;
    }

    static Costs costsFor(int aliases, int mailnames) {
        const std::string domain =
            "a" + std::to_string(aliases) + "m" + std::to_string(mailnames) + ".test";
        seedDomain(domain, aliases, mailnames);
        const std::string inDomain = "--domain-name=" + domain;
        Costs costs;
        costs["--add-domain-alias"] = costOf(
            {"--add-domain-alias", inDomain, "--domain-alias-name=new." + domain, "--set-reject"});
        panelSql("INSERT INTO domainaliases (name, dom_id) SELECT " + sqlLiteral("new." + domain) +
                 ", id FROM domains WHERE name=" + sqlLiteral(domain));
        costs["--set-bounce"] = costOf({"--set-bounce", inDomain, "--phrase=gone"});
        costs["--add-alias"] = costOf({"--add-alias", inDomain, "--mailname=m0", "--alias=extra"});
        costs["--remove-alias"] =
            costOf({"--remove-alias", inDomain, "--mailname=m0", "--alias=sales"});
        costs["--set-password"] =
            costOf({"--set-password", inDomain, "--mailname=m0"}, {"ORQ_PASSWORD=new"});
        panelSql("UPDATE mail SET mail_name='renamed' WHERE mail_name='m0'");
        costs["--rename-mailname"] =
            costOf({"--rename-mailname", inDomain, "--old-mailname=m0", "--new-mailname=renamed"},
                   {"ORQ_PASSWORD=pw"});
        costs["--remove-mailname"] = costOf({"--remove-mailname", inDomain, "--mailname=m1"});
        costs["--remove-mailbox"] = costOf({"--remove-mailbox", inDomain, "--mailname=renamed"});
        costs["--turn-off-domain"] = costOf({"--turn-off-domain", inDomain});
        costs["--turn-on-domain"] = costOf({"--turn-on-domain", inDomain});
        return costs;
    }
};

TEST_F(CostCountTest, ChildrenAndPanelConnectionsDoNotGrowWithAliasesOrMailnames) {
    const Costs smallest = costsFor(1, 10);
    for (const auto& [command, cost] : smallest) {
        // Every one of them changes a table or the authentication database:
        // a trace that sees neither saw nothing.
        EXPECT_GT(cost.postmap + cost.auth, 0) << command << ": " << cost;
        EXPECT_LE(cost.panel, 1) << command << ": " << cost;
        EXPECT_EQ(cost.postconf, 0) << command << ": " << cost;
    }
    for (const auto& [aliases, mailnames] : {std::pair{10, 10}, {1, 1000}, {10, 1000}}) {
        const Costs costs = costsFor(aliases, mailnames);
        for (const auto& [command, cost] : smallest)
            EXPECT_EQ(costs.at(command), cost)
                << command << " with " << aliases << " aliases and " << mailnames << " mailnames";
    }
}

} // namespace
} // namespace korvo::test
