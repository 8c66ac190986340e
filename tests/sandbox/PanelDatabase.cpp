#include "sandbox/PanelDatabase.h"

#include "front/CommandFixture.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <mysql.h>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace korvo::test {

const char* const panelAdminPassword = "vornctl-panel-admin";
const char* const panelPasswordFile = "/etc/orq/.orq.shadow";

namespace {

const char* const dataDir = "/run/vornctl-sandbox/mariadb/data";
const char* const pidRecord = "/run/vornctl-sandbox/mariadb.pid";
const char* const socketPath = "/run/mysqld/mysqld.sock";
constexpr std::chrono::milliseconds pollEvery(20);

const std::string schemaFile = sandboxFile("../sql/panel-schema.sql");

// The running server, and the options it was started with.
struct Server {
    pid_t pid = -1;
    std::vector<std::string> options;
    // The process that started the server: a forked test child that exits
    // runs this destructor too, and must neither kill nor wait for it.
    pid_t starter = -1;

    // A server that outlived its program would survive the sandbox.
    ~Server() {
        if (starter == ::getpid())
            PanelServer::stop();
    }
};

Server& server() {
    static Server instance;
    return instance;
}

bool canConnect() {
    MYSQL* const handle = mysql_init(nullptr);
    const bool ok = mysql_real_connect(handle, "localhost", "root", nullptr, nullptr, 0, socketPath,
                                       0) != nullptr;
    mysql_close(handle);
    return ok;
}

pid_t launch(const std::vector<std::string>& options) {
    std::vector<std::string> args{sandboxFile("mariadb-start"), dataDir};
    args.insert(args.end(), options.begin(), options.end());
    const std::vector<char*> argv = pointers(args);
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid < 0)
        throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
    if (pid == 0) {
        // Dies with the test program, however that ends.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(127);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    writeFile(pidRecord, std::to_string(pid) + "\n");
    return pid;
}

// Reaps the server if it has ended; true when it has (or none runs).
bool reapedServer() {
    int status = 0;
    if (server().pid > 0 && ::waitpid(server().pid, &status, WNOHANG) != server().pid)
        return false;
    server().pid = -1;
    ::unlink(pidRecord);
    return true;
}

void waitUntilReady() {
    bool ended = false;
    const bool ready =
        waitUntil([&ended] { return canConnect() || (ended = reapedServer()); }, 60, pollEvery);
    if (ended)
        throw std::runtime_error("mariadbd ended before it accepted connections:\n" +
                                 readFile(std::string(dataDir) + ".err"));
    if (!ready) {
        PanelServer::stop();
        throw std::runtime_error("mariadbd accepted no connection within 60 s");
    }
}

std::string fromHex(const std::string& hex) {
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return bytes;
}

} // namespace

void PanelServer::start(const std::vector<std::string>& options) {
    if (!inSandbox())
        throw std::runtime_error("not inside tests/sandbox/run: no database server here");
    Server& s = server();
    // A server that died since the last test is started afresh.
    if (s.pid > 0 && !reapedServer() && s.options == options && canConnect())
        return;
    stop();
    s.pid = launch(options);
    s.options = options;
    s.starter = ::getpid();
    waitUntilReady();
    const CommandResult loaded =
        runCommand({"/usr/bin/mariadb", "--no-defaults", "-uroot"}, {}, readFile(schemaFile));
    if (loaded.status != 0)
        throw std::runtime_error("cannot load the panel schema: " + loaded.err);
}

void PanelServer::stop() {
    Server& s = server();
    if (s.pid <= 0)
        return;
    ::kill(s.pid, SIGTERM);
    if (!waitUntil(reapedServer, 20, pollEvery)) {
        ::kill(s.pid, SIGKILL);
        waitUntil(reapedServer, 60, pollEvery);
    }
}

std::string panelSql(const std::string& sql) {
    const CommandResult result = runCommand({"/usr/bin/mariadb", "--no-defaults", "-uroot",
                                             "--batch", "--skip-column-names", "orq", "-e", sql});
    if (result.status != 0)
        throw std::runtime_error("mariadb client failed on \"" + sql + "\": " + result.err);
    return result.out;
}

std::string sqlLiteral(const std::string& text) {
    std::string literal = "'";
    for (const char c : text) {
        if (c == '\'' || c == '\\')
            literal += '\\';
        literal += c;
    }
    return literal + "'";
}

void resetPanelRows() {
    panelSql("SET GLOBAL general_log=0; TRUNCATE TABLE mysql.general_log; DROP DATABASE orq; "
             "SOURCE " +
             schemaFile + ";");
}

void PanelDatabaseTest::SetUp() {
    SandboxTest::SetUp();
    PanelServer::start();
    resetPanelRows();
    writeFile(panelPasswordFile, std::string(panelAdminPassword) + "\n");
    ::chmod(panelPasswordFile, 0600);
}

std::string PanelDatabaseTest::addDomain(const std::string& name,
                                         const std::vector<std::string>& aliases) {
    std::string sql = "INSERT INTO domains (name) VALUES (" + sqlLiteral(name) + ");" +
                      " SET @dom = LAST_INSERT_ID();";
    for (const std::string& alias : aliases)
        sql +=
            " INSERT INTO domainaliases (name, dom_id) VALUES (" + sqlLiteral(alias) + ", @dom);";
    const std::string id = panelSql(sql + " SELECT @dom;");
    return id.substr(0, id.find('\n'));
}

void PanelDatabaseTest::addMailname(const std::string& domain, const std::string& mailname,
                                    const std::vector<std::string>& aliases) {
    std::string sql = "INSERT INTO mail (mail_name, dom_id) SELECT " + sqlLiteral(mailname) +
                      ", id FROM domains WHERE name=" + sqlLiteral(domain) + ";" +
                      " SET @mn = LAST_INSERT_ID();";
    for (const std::string& alias : aliases)
        sql += " INSERT INTO mail_aliases (mn_id, alias) VALUES (@mn, " + sqlLiteral(alias) + ");";
    panelSql(sql);
}

void PanelDatabaseTest::serveDomain(const std::string& name,
                                    const std::vector<std::string>& aliases) {
    addDomain(name, aliases);
    ok({"--add-domain", "--domain-name=" + name});
}

void PanelDatabaseTest::serveMailname(const std::string& domain, const std::string& mailname,
                                      const std::vector<std::string>& aliases) {
    addMailname(domain, mailname, aliases);
    ok({"--add-mailname", "--domain-name=" + domain, "--mailname=" + mailname});
}

void PanelDatabaseTest::serveMailbox(const std::string& domain, const std::string& mailname,
                                     const std::string& password) {
    serveMailname(domain, mailname);
    ok({"--add-mailbox", "--domain-name=" + domain, "--mailname=" + mailname}, {password});
}

void PanelDatabaseTest::setMisc(const std::string& param, const std::string& value) {
    panelSql("REPLACE INTO misc (param, val) VALUES (" + sqlLiteral(param) + ", " +
             sqlLiteral(value) + ")");
}

void PanelDatabaseTest::setLimit(const std::string& domain, const std::string& name,
                                 const std::string& value) {
    const std::string where = " WHERE name=" + sqlLiteral(domain);
    panelSql("UPDATE domains SET limits_id = (SELECT COALESCE(MAX(id), 0) + 1 FROM Limits)" +
             where +
             " AND limits_id IS NULL;"
             " REPLACE INTO Limits (id, limit_name, value) SELECT limits_id, " +
             sqlLiteral(name) + ", " + sqlLiteral(value) + " FROM domains" + where + ";");
}

void PanelDatabaseTest::startQueryLog() {
    panelSql("TRUNCATE TABLE mysql.general_log; SET GLOBAL general_log=1;");
}

std::vector<std::string> PanelDatabaseTest::loggedQueries() {
    std::vector<std::string> queries;
    for (const std::string& line : lines(panelSql("SELECT HEX(argument) FROM mysql.general_log "
                                                  "WHERE command_type='Query' AND user_host LIKE "
                                                  "'admin[%'")))
        queries.push_back(fromHex(line));
    return queries;
}

} // namespace korvo::test
