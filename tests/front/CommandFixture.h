// Shared pieces of the end-to-end command tests: hostile names, a running
// Postfix in the sandbox, and an SMTP client that can speak from outside mynetworks.
#ifndef KORVO_TESTS_FRONT_COMMANDFIXTURE_H
#define KORVO_TESTS_FRONT_COMMANDFIXTURE_H

#include "sandbox/CommandRunner.h"
#include "sandbox/Sandbox.h"
#include "sandbox/Snapshot.h"
#include "sandbox/TestFiles.h"

#include <arpa/inet.h>
#include <fstream>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>
#include <vector>

namespace korvo::test {

// Names no command may take: climbing paths, control bytes, shell and SQL
// syntax, over-long names, bytes that are not UTF-8.
inline const std::vector<std::string>& hostileNames() {
    static const std::vector<std::string> names = {"/",
                                                   "..",
                                                   "../../etc",
                                                   "a\nb",
                                                   "a\tb",
                                                   "a b",
                                                   "a'b",
                                                   "a\"b",
                                                   "$(touch /tmp/pwned)",
                                                   std::string(300, 'x'),
                                                   "\xff\xfe"};
    return names;
}

// Runs vornctl once per name in place of NAME in one "--option=...NAME..."
// of args; each run must fail with status 1 on both streams, naming the
// refused text, and leave the sandbox snapshot (plus extra) unchanged.
inline void expectHostileNamesRefused(const std::vector<std::string>& args,
                                      const std::vector<std::string>& names = hostileNames(),
                                      const std::string& extra = "") {
    const Snapshot before = takeSnapshot(extra);
    for (const std::string& name : names) {
        std::vector<std::string> run;
        std::string value; // the option value holding the name
        for (const std::string& arg : args) {
            const std::size_t at = arg.find("NAME");
            if (at == std::string::npos) {
                run.push_back(arg);
                continue;
            }
            run.push_back(arg.substr(0, at) + name + arg.substr(at + 4));
            value = run.back().substr(run.back().find('=') + 1);
        }
        const CommandResult result = runVornctl(run);
        EXPECT_EQ(result.status, 1) << run[0] << " [" << name << "]\n" << result.err;
        EXPECT_EQ(result.err.rfind("Fatal error: ", 0), 0u) << "[" << name << "] " << result.err;
        EXPECT_EQ(result.out, result.err) << "[" << name << "]";
        // The refused text is the value or, for a list, one piece of it.
        const std::string prefix = "Fatal error: std::invalid_argument(";
        if (result.err.rfind(prefix, 0) == 0 && result.err.size() >= prefix.size() + 2) {
            const std::string refused =
                result.err.substr(prefix.size(), result.err.size() - prefix.size() - 2);
            EXPECT_NE(value.find(refused), std::string::npos) << result.err;
            EXPECT_EQ(result.err.substr(result.err.size() - 2), ")\n");
        }
    }
    EXPECT_TRUE(compareSnapshots(before, takeSnapshot(extra)));
    EXPECT_NE(::access("/tmp/pwned", F_OK), 0);
}

inline std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        result.push_back(line);
    return result;
}

inline std::string postconf(const std::string& name) {
    const CommandResult result = runCommand({"/usr/sbin/postconf", "-h", name});
    return result.out.empty() ? "" : result.out.substr(0, result.out.size() - 1);
}

inline void setPostconf(const std::string& assignment) {
    ASSERT_EQ(runCommand({"/usr/sbin/postconf", "-e", assignment}).status, 0) << assignment;
}

// A port of the sandbox's network namespace in LISTEN state (IPv4).
inline bool listening(int port) {
    std::ifstream tcp("/proc/net/tcp");
    std::string line;
    std::getline(tcp, line);
    while (std::getline(tcp, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state;
        fields >> slot >> local >> remote >> state;
        if (state == "0A" && std::stoi(local.substr(local.find(':') + 1), nullptr, 16) == port)
            return true;
    }
    return false;
}

// One SMTP conversation with the sandbox's Postfix on 127.0.0.1:25.
class SmtpClient {
public:
    // from: the client's own address, any of 127.0.0.0/8.
    explicit SmtpClient(const std::string& from) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
        timeval timeout{15, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        ::inet_pton(AF_INET, from.c_str(), &local.sin_addr);
        sockaddr_in server{};
        server.sin_family = AF_INET;
        server.sin_port = htons(25);
        ::inet_pton(AF_INET, "127.0.0.1", &server.sin_addr);
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0 &&
            ::connect(fd_, reinterpret_cast<sockaddr*>(&server), sizeof server) == 0)
            greeting_ = reply();
    }
    ~SmtpClient() { ::close(fd_); }
    SmtpClient(const SmtpClient&) = delete;
    SmtpClient& operator=(const SmtpClient&) = delete;

    const std::string& greeting() const { return greeting_; }

    // Sends one line (CRLF added) and returns the last line of the reply.
    std::string send(const std::string& line) {
        const std::string data = line + "\r\n";
        if (::write(fd_, data.data(), data.size()) != static_cast<ssize_t>(data.size()))
            return "write failed";
        return reply();
    }

    // Sends a message's text after DATA, then the closing dot; returns the reply to it.
    std::string sendMessage(const std::string& text) {
        const std::string data = text + "\r\n";
        if (::write(fd_, data.data(), data.size()) != static_cast<ssize_t>(data.size()))
            return "write failed";
        return send(".");
    }

private:
    std::string reply() {
        std::string last;
        while (true) {
            std::string line;
            char c;
            while (::read(fd_, &c, 1) == 1 && c != '\n')
                line += c;
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            if (line.size() < 4)
                return last + line;
            last = line;
            if (line[3] == ' ')
                return last;
        }
    }

    int fd_;
    std::string greeting_;
};

// Makes the sandbox fit for starting its real Postfix: queue directories,
// no name lookups, a log file to read, only 127.0.0.1 in mynetworks, and
// mail for other hosts discarded instead of rejected at RCPT.
inline void preparePostfix() {
    ASSERT_EQ(shell(sandboxFile("postfix-prepare")), 0);
    setPostconf("smtpd_peername_lookup=no");
    setPostconf("maillog_file=/var/spool/postfix/maillog");
    setPostconf("mynetworks=127.0.0.1/32");
    setPostconf("default_transport=discard");
    setPostconf("relay_transport=discard");
}

// Never leaves a Postfix running behind a test.
inline void stopPostfix() {
    shell(sandboxFile("postfix-standin") +
          " off; env -i LANG=C /etc/init.d/postfix stop >/dev/null 2>&1");
}

class RunningPostfixTest : public SandboxTest {
protected:
    void SetUp() override {
        SandboxTest::SetUp();
        preparePostfix();
    }
    void TearDown() override { stopPostfix(); }
    static void startPostfix() {
        ASSERT_EQ(shell("env -i LANG=C /etc/init.d/postfix start >/dev/null 2>&1"), 0);
    }
};

} // namespace korvo::test

#endif
