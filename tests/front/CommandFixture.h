// Shared pieces of the end-to-end command tests: hostile names, a running
// Postfix in the sandbox, an SMTP client that can speak from outside
// mynetworks, and the answers it gets.
#ifndef KORVO_TESTS_FRONT_COMMANDFIXTURE_H
#define KORVO_TESTS_FRONT_COMMANDFIXTURE_H

#include "sandbox/CommandRunner.h"
#include "sandbox/Sandbox.h"
#include "sandbox/Snapshot.h"
#include "sandbox/TestFiles.h"

#include <algorithm>
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>
#include <vector>

namespace korvo::test {

// Names no command may take: climbing paths, control bytes, shell and SQL
// syntax, over-long names, bytes that are not UTF-8.
inline const std::string overLongName(300, 'x');
inline const std::vector<std::string>& hostileNames() {
    static const std::vector<std::string> names = {
        "/",   "..",   "../../etc",           "a\nb",       "a\tb",    "a b",
        "a'b", "a\"b", "$(touch /tmp/pwned)", overLongName, "\xff\xfe"};
    return names;
}

// Runs vornctl once per name in place of NAME in one "--option=...NAME..."
// of args; each run must fail with status 1 on both streams, naming the
// option that held the refused text, and leave the sandbox snapshot (plus extra) unchanged.
inline void expectHostileNamesRefused(const std::vector<std::string>& args,
                                      const std::vector<std::string>& names = hostileNames(),
                                      const std::string& extra = "") {
    const Snapshot before = takeSnapshot(extra);
    for (const std::string& name : names) {
        std::vector<std::string> run;
        for (std::string arg : args) {
            if (const std::size_t at = arg.find("NAME"); at != std::string::npos)
                arg.replace(at, 4, name);
            run.push_back(arg);
        }
        const CommandResult result = runVornctl(run);
        EXPECT_EQ(result.status, 1) << run[0] << " [" << name << "]\n" << result.err;
        EXPECT_EQ(result.err.rfind("Fatal error: ", 0), 0u) << "[" << name << "] " << result.err;
        EXPECT_EQ(result.out, result.err) << "[" << name << "]";
        // A refusal names the option holding the name: "--option: 'text' rule".
        const std::string prefix = "Fatal error: std::invalid_argument(";
        if (result.err.rfind(prefix, 0) == 0) {
            const std::string option =
                result.err.substr(prefix.size()).substr(0, result.err.find(": '") - prefix.size());
            EXPECT_TRUE(std::any_of(run.begin(), run.end(), [&option](const std::string& arg) {
                return arg.rfind(option + "=", 0) == 0;
            })) << result.err;
        }
    }
    EXPECT_TRUE(compareSnapshots(before, takeSnapshot(extra)));
    EXPECT_NE(::access("/tmp/pwned", F_OK), 0);
}

// Runs vornctl and expects status 0, leaving what it wrote to the caller.
inline CommandResult succeeds(const std::vector<std::string>& args,
                              const std::vector<std::string>& env = {}) {
    const CommandResult result = runVornctl(args, env);
    EXPECT_EQ(result.status, 0) << args[0] << "\n" << result.err;
    return result;
}

// Runs vornctl and expects status 0 with nothing on either stream.
inline void ok(const std::vector<std::string>& args, const std::vector<std::string>& env = {}) {
    const CommandResult result = succeeds(args, env);
    EXPECT_EQ(result.out + result.err, "") << args[0];
}

inline std::string postconf(const std::string& name) {
    const CommandResult result = runCommand({"/usr/sbin/postconf", "-h", name});
    return result.out.empty() ? "" : result.out.substr(0, result.out.size() - 1);
}

inline void setPostconf(const std::string& assignment) {
    ASSERT_EQ(runCommand({"/usr/sbin/postconf", "-e", assignment}).status, 0) << assignment;
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

// What the sandbox's running Postfix answers a client from the Internet (one
// outside mynetworks): at RCPT TO, or at the end of a message.
//
// Postfix's smtpd notices a changed table by its modification time, in
// whole seconds, and keeps its processes across connections, so a probe
// right after a change may still see the old table. replyOnceSeen polls a
// canary address whose answer the same change turns around, and then asks
// about the address of interest: both answers come from the new table.
// One SMTP transaction from a client (by default one outside mynetworks):
// the reply to RCPT TO when no message is given, else the reply to the end
// of DATA (the message sent with CRLF line ends and leading dots doubled); a
// reply that went wrong before is returned after the command it answered.
inline std::string smtpTransaction(const std::string& sender, const std::string& recipient,
                                   const std::string& message = "",
                                   const std::string& clientAddress = "127.0.0.2") {
    SmtpClient smtp(clientAddress);
    if (smtp.greeting().rfind("220 ", 0) != 0)
        return "greeting: " + smtp.greeting();
    smtp.send("EHLO client.remote.example");
    const std::string from = smtp.send("MAIL FROM:<" + sender + ">");
    if (from.rfind("250 ", 0) != 0)
        return "MAIL FROM: " + from;
    std::string reply = smtp.send("RCPT TO:<" + recipient + ">");
    if (!message.empty()) {
        if (reply[0] != '2')
            return "RCPT TO: " + reply;
        const std::string data = smtp.send("DATA");
        if (data.rfind("354 ", 0) != 0)
            return "DATA: " + data;
        std::string text;
        char previous = '\n';
        for (const char c : message) {
            text += c == '\n' ? std::string("\r\n")
                              : std::string(c == '.' && previous == '\n' ? 2 : 1, c);
            previous = c;
        }
        reply = smtp.send(text + ".");
    }
    smtp.send("QUIT");
    return reply;
}

inline bool accepted(const std::string& reply) {
    return reply.rfind("250 ", 0) == 0;
}

// Waits (at most 20 s) until the canary is accepted (or refused, as
// wanted), then returns the reply for recipient; "canary unseen: REPLY"
// when the change never showed.
inline std::string replyOnceSeen(const std::string& canary, bool canaryAccepted,
                                 const std::string& recipient) {
    std::string reply;
    const auto seen = [&] {
        return accepted(reply = smtpTransaction("friend@remote.example", canary)) == canaryAccepted;
    };
    return waitUntil(seen, 20, std::chrono::milliseconds(200))
               ? smtpTransaction("friend@remote.example", recipient)
               : "canary unseen: " + reply;
}

// Makes the sandbox fit for starting its real Postfix: queue directories,
// no name lookups, a log file to read, only 127.0.0.1 in mynetworks, and
// mail for other hosts discarded instead of rejected at RCPT.
inline void preparePostfix() {
    ASSERT_EQ(shell(sandboxFile("postfix-prepare")), 0);
    for (const char* setting :
         {"smtpd_peername_lookup=no", "maillog_file=/var/spool/postfix/maillog",
          "mynetworks=127.0.0.1/32", "default_transport=discard", "relay_transport=discard"})
        setPostconf(setting);
}

// Never leaves a Postfix running behind a test; never touches the host's.
inline void stopPostfix() {
    if (inSandbox())
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
