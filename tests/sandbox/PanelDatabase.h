// The panel's MariaDB server, private to one test program: started in the
// sandbox on first use with tests/sql/panel-schema.sql, kept for the program,
// gone with it (parent-death signal; tests/sandbox/run kills what is left).
// PanelDatabaseTest gives each test an empty panel database the tool can log
// into; seed it with the add... helpers, read it back with panelSql (the real
// mariadb client as root, never the code under test).
#ifndef KORVO_TESTS_PANELDATABASE_H
#define KORVO_TESTS_PANELDATABASE_H

#include "sandbox/Sandbox.h"

#include <string>
#include <vector>

namespace korvo::test {

// The password of the panel account "admin" (tests/sql/panel-schema.sql).
extern const char* const panelAdminPassword;
extern const char* const panelPasswordFile;

class PanelServer {
public:
    // Runs the server with these extra mariadbd options, restarting it
    // when it runs with others; loads the schema. Throws when it cannot.
    static void start(const std::vector<std::string>& options = {});
    // Stops the server (SIGTERM, then SIGKILL after 20 s); no-op when stopped.
    static void stop();
};

// SQL on database orq as root: rows as lines, columns joined by tabs, NULL
// as "NULL"; throws with the client's message on failure.
std::string panelSql(const std::string& sql);
// text as an SQL string literal, quotes and backslashes escaped.
std::string sqlLiteral(const std::string& text);

// Makes orq again as the schema creates it and turns the query log off.
void resetPanelRows();

class PanelDatabaseTest : public SandboxTest {
protected:
    void SetUp() override;

    // A domain with its domain aliases; returns the domain's id.
    static std::string addDomain(const std::string& name,
                                 const std::vector<std::string>& aliases = {});
    // A mailname of an existing domain with its mail aliases.
    static void addMailname(const std::string& domain, const std::string& mailname,
                            const std::vector<std::string>& aliases = {});
    // The same rows, then the tool's --add-domain, --add-mailname, or
    // --add-mailname and --add-mailbox with the password variable given;
    // each run must succeed silently.
    static void serveDomain(const std::string& name, const std::vector<std::string>& aliases = {});
    static void serveMailname(const std::string& domain, const std::string& mailname,
                              const std::vector<std::string>& aliases = {});
    static void serveMailbox(const std::string& domain, const std::string& mailname,
                             const std::string& password = "ORQ_PASSWORD=secret");
    static void setMisc(const std::string& param, const std::string& value);
    // Gives the domain a limit set (when it has none) holding name = value.
    static void setLimit(const std::string& domain, const std::string& name,
                         const std::string& value);

    // Starts logging every query into mysql.general_log ...
    static void startQueryLog();
    // ... and returns the queries the tool's account sent since, in order.
    static std::vector<std::string> loggedQueries();
};

} // namespace korvo::test

#endif
