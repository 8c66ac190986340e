// What a command costs must not grow with the domain it works on: the
// postmap and postconf runs, the panel-database connections, the passes
// over the mail-handler registry and the openings of the authentication
// database of each command are counted with strace
// for a domain with 1 and with 10 domain aliases and 10 and 1000 mailnames,
// and must be the same for all four.
#include "hardening/HardeningFixture.h"

#include <array>
#include <map>

namespace korvo::test {
namespace {

const char trace[] = "/run/vornctl-sandbox/cost.trace";

// What is counted: the trace lines holding both words. Every pass over the
// registry opens its list of handlers.
const std::array<std::pair<const char*, const char*>, 5> counted = {{
    {"execve(\"/usr/sbin/postmap\"", ""},
    {"execve(\"/usr/sbin/postconf\"", ""},
    {"connect(", "/run/mysqld/mysqld.sock"},
    {"openat(", "\"/usr/local/orq/handlers/info\""},
    {"openat(", "\"/var/spool/postfix/korvo/passwd.db\""},
}};
enum { postmap, postconf, panel, registry, auth };
const char* const countedNames[] = {"postmap", "postconf", "panel", "registry", "auth"};

using Cost = std::array<int, counted.size()>;
using Costs = std::map<std::string, Cost>;

std::string describe(const std::string& command, const Cost& cost) {
    std::string text = command + ":";
    for (std::size_t i = 0; i < counted.size(); ++i)
        text += std::string(" ") + countedNames[i] + " " + std::to_string(cost[i]);
    return text;
}

// Runs the tool under strace and counts what it did.
Cost costOf(const std::vector<std::string>& args, std::vector<std::string> env = {}) {
    std::vector<std::string> argv = {
        "/usr/bin/strace",         "-f",          "-qq", "-s256", "-etrace=execve,connect,openat",
        std::string("-o") + trace, VORNCTL_BINARY};
    argv.insert(argv.end(), args.begin(), args.end());
    env.push_back("ASAN_OPTIONS=detect_leaks=0"); // LeakSanitizer refuses to run under ptrace
    const CommandResult result = runCommand(argv, env);
    EXPECT_EQ(result.status, 0) << args[0] << ": " << result.err;
    Cost cost{};
    for (const std::string& line : lines(readFile(trace)))
        for (std::size_t i = 0; i < counted.size(); ++i)
            if (line.find(counted[i].first) != std::string::npos &&
                line.find(counted[i].second) != std::string::npos)
                ++cost[i];
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
        serveDomain(domain, aliasNames);
        std::string rows;
        for (int i = 0; i < mailnames; ++i)
            rows += std::string(rows.empty() ? "" : ", ") + "('m" + std::to_string(i) + "', @dom)";
        panelSql("SELECT id INTO @dom FROM domains WHERE name=" + sqlLiteral(domain) +
                 "; INSERT INTO mail (mail_name, dom_id) VALUES " + rows +
                 "; INSERT INTO mail_aliases (mn_id, alias) SELECT id, 'sales' FROM mail "
                 "WHERE dom_id=@dom AND mail_name='m0'");
        for (const std::string& name : {std::string("m0"), std::string("m1")})
            succeeds({"--add-mailname", "--domain-name=" + domain, "--mailname=" + name});
        succeeds({"--add-mailbox", "--domain-name=" + domain, "--mailname=m0"},
                 {"ORQ_PASSWORD=pw"});
    }

    static Costs costsFor(int aliases, int mailnames) {
        const std::string domain =
            "a" + std::to_string(aliases) + "m" + std::to_string(mailnames) + ".test";
        seedDomain(domain, aliases, mailnames);
        const std::string inDomain = "--domain-name=" + domain;
        Costs costs;
        const auto count = [&costs](const std::vector<std::string>& args,
                                    const std::vector<std::string>& env = {}) {
            costs[args[0]] = costOf(args, env);
        };
        count({"--add-domain-alias", inDomain, "--domain-alias-name=new." + domain, "--set-reject"});
        panelSql("INSERT INTO domainaliases (name, dom_id) SELECT " + sqlLiteral("new." + domain) +
                 ", id FROM domains WHERE name=" + sqlLiteral(domain));
        count({"--set-bounce", inDomain, "--phrase=gone"});
        count({"--add-alias", inDomain, "--mailname=m0", "--alias=extra"});
        count({"--remove-alias", inDomain, "--mailname=m0", "--alias=sales"});
        count({"--set-password", inDomain, "--mailname=m0"}, {"ORQ_PASSWORD=new"});
        panelSql("UPDATE mail SET mail_name='renamed' WHERE mail_name='m0'");
        count({"--rename-mailname", inDomain, "--old-mailname=m0", "--new-mailname=renamed"},
              {"ORQ_PASSWORD=pw"});
        count({"--remove-mailname", inDomain, "--mailname=m1"});
        count({"--remove-mailbox", inDomain, "--mailname=renamed"});
        count({"--turn-off-domain", inDomain});
        count({"--turn-on-domain", inDomain});
        return costs;
    }
};

TEST_F(CostCountTest, ChildrenAndPanelConnectionsDoNotGrowWithAliasesOrMailnames) {
    const Costs smallest = costsFor(1, 10);
    for (const auto& [command, cost] : smallest) {
        // Every one of them changes a table or the authentication database:
        // a trace that sees neither saw nothing.
        EXPECT_GT(cost[postmap] + cost[auth], 0) << describe(command, cost);
        EXPECT_LE(cost[panel], 1) << describe(command, cost);
        EXPECT_EQ(cost[postconf], 0) << describe(command, cost);
    }
    for (const auto& [aliases, mailnames] : {std::pair{10, 10}, {1, 1000}, {10, 1000}}) {
        const Costs costs = costsFor(aliases, mailnames);
        for (const auto& [command, cost] : smallest)
            EXPECT_EQ(costs.at(command), cost) << describe(command, costs.at(command)) << " with "
                                               << aliases << " aliases and " << mailnames
                                               << " mailnames";
    }
}

} // namespace
} // namespace korvo::test
