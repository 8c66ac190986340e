// Cost of the before-queue filter with no handler registered: the same
// messages sent by 20 concurrent SMTP sessions to a plain smtpd and to an
// smtpd whose sessions pass through vornctl-filter and the reinjection
// smtpd, in the same run against the sandbox's real Postfix, for 1 KB and
// 10 MB messages. Rounds alternate between the two; the best of each counts.
// A third smtpd hands its sessions straight to the reinjection smtpd, with
// no filter between: Postfix's own cost of the before-queue design, the
// least any filter can reach, printed beside each ratio.
#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

const int sessions = 20;
const int rounds = 3;
const int plainPort = 25;
const int filteredPort = 2526;
const int unfilteredProxyPort = 2527;

void run(const std::string& command) {
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "failed: %s\n", command.c_str());
        std::exit(2);
    }
}

class Session {
public:
    explicit Session(int port) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in server{};
        server.sin_family = AF_INET;
        server.sin_port = htons(static_cast<uint16_t>(port));
        ::inet_pton(AF_INET, "127.0.0.1", &server.sin_addr);
        if (::connect(fd_, reinterpret_cast<sockaddr*>(&server), sizeof server) != 0)
            failed("connect");
        expect('2');
    }
    ~Session() { ::close(fd_); }

    void command(const std::string& line, char wanted) {
        put(line + "\r\n");
        expect(wanted);
    }
    void put(const std::string& data) {
        for (std::size_t done = 0; done < data.size();) {
            const ssize_t wrote = ::write(fd_, data.data() + done, data.size() - done);
            if (wrote <= 0)
                failed("write");
            done += static_cast<std::size_t>(wrote);
        }
    }
    // Reads the reply's lines, the last one (no "-" after the code) decides.
    void expect(char wanted) {
        for (;;) {
            const std::string line = nextLine();
            if (line.size() >= 4 && line[3] == '-')
                continue;
            if (line.empty() || line[0] != wanted)
                failed(line.c_str());
            return;
        }
    }

private:
    // One line from a buffer filled a read at a time, as a mail client reads.
    std::string nextLine() {
        for (;;) {
            const std::string::size_type end = buffered_.find('\n');
            if (end != std::string::npos) {
                std::string line = buffered_.substr(0, end);
                buffered_.erase(0, end + 1);
                return line;
            }
            char chunk[4096];
            const ssize_t got = ::read(fd_, chunk, sizeof chunk);
            if (got <= 0)
                failed("read");
            buffered_.append(chunk, static_cast<std::size_t>(got));
        }
    }
    [[noreturn]] static void failed(const char* what) {
        std::fprintf(stderr, "SMTP session failed: %s\n", what);
        std::exit(2);
    }
    int fd_;
    std::string buffered_;
};

void sendMessages(int port, const std::string& data, int perSession) {
    Session session(port);
    session.command("EHLO bench.example", '2');
    for (int i = 0; i < perSession; ++i) {
        session.command("MAIL FROM:<bench@remote.example>", '2');
        session.command("RCPT TO:<info@example.com>", '2');
        session.command("DATA", '3');
        // The end of data goes with the last of the message, as a client's
        // buffered output sends it: a write of its own would wait for the
        // server's delayed acknowledgement, 40 ms a message on both paths.
        session.put(data + ".\r\n");
        session.expect('2');
    }
    session.command("QUIT", '2');
}

double secondsFor(int port, const std::string& data, int perSession) {
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> clients;
    for (int i = 0; i < sessions; ++i)
        clients.emplace_back(sendMessages, port, std::cref(data), perSession);
    for (std::thread& client : clients)
        client.join();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::string message(std::size_t bytes) {
    std::string data = "Subject: bench\r\n\r\n";
    const std::string line(76, 'x');
    while (data.size() < bytes)
        data += line + "\r\n";
    return data;
}

void startPostfix() {
    run("tests/sandbox/postfix-prepare");
    run("install -D -m 0755 " VORNCTL_FILTER_BINARY " /usr/local/libexec/vornctl-filter");
    for (const char* setting :
         {"smtpd_peername_lookup=no", "maillog_file=/var/spool/postfix/maillog",
          "mynetworks=127.0.0.0/8", "virtual_mailbox_domains=example.com",
          "virtual_transport=discard", "message_size_limit=0", "default_process_limit=100"})
        run(std::string("postconf -e '") + setting + "'");
    run("postconf -Me '2526/inet=2526 inet n - n - - smtpd "
        "-o smtpd_proxy_filter=127.0.0.1:10025'");
    run("postconf -Me '2527/inet=2527 inet n - n - - smtpd "
        "-o smtpd_proxy_filter=127.0.0.1:10026'");
    run("postconf -Me '127.0.0.1:10025/inet=127.0.0.1:10025 inet n n n - - spawn user=popuser "
        "argv=/usr/local/libexec/vornctl-filter --next-hop=127.0.0.1:10026'");
    // The reinjection smtpd exactly as vornctl-setup writes it.
    run("postconf -Me '127.0.0.1:10026/inet=127.0.0.1:10026 inet n - n - - smtpd "
        "-o smtpd_proxy_filter= -o smtpd_authorized_xforward_hosts=127.0.0.0/8 "
        "-o smtpd_client_restrictions= -o smtpd_helo_restrictions= "
        "-o smtpd_sender_restrictions= -o smtpd_relay_restrictions= "
        "-o smtpd_recipient_restrictions=permit_mynetworks,reject -o smtpd_data_restrictions= "
        "-o mynetworks=127.0.0.0/8 -o receive_override_options=no_unknown_recipient_checks'");
    run("env -i LANG=C /etc/init.d/postfix start >/dev/null 2>&1");
}

// The ratio of the filtered path to the plain one.
double measure(const char* name, std::size_t bytes, int perSession) {
    const std::string data = message(bytes);
    for (int port : {filteredPort, unfilteredProxyPort, plainPort})
        secondsFor(port, data, 1); // warm every path up
    double plain = 1e9;
    double filtered = 1e9;
    double proxied = 1e9;
    for (int round = 0; round < rounds; ++round) {
        plain = std::min(plain, secondsFor(plainPort, data, perSession));
        filtered = std::min(filtered, secondsFor(filteredPort, data, perSession));
        proxied = std::min(proxied, secondsFor(unfilteredProxyPort, data, perSession));
    }
    std::printf("%s through the filter: ratio %.2f (target <= 1.3) [%.3f s against %.3f s "
                "plain, %d sessions x %d messages; Postfix's proxy path with no filter: ratio "
                "%.2f, %.3f s]\n",
                name, filtered / plain, filtered, plain, sessions, perSession, proxied / plain,
                proxied);
    return filtered / plain;
}

} // namespace

int main() {
    startPostfix();
    const double small = measure("1 KB message", 1024, 10);
    const double large = measure("10 MB message", 10u * 1024 * 1024, 1);
    run("env -i LANG=C /etc/init.d/postfix stop >/dev/null 2>&1");
    return std::max(small, large) <= 1.3 ? 0 : 1;
}
