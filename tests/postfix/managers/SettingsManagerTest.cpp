#include "postfix/managers/SettingsManager.h"

#include "sandbox/CommandRunner.h"
#include "sandbox/Sandbox.h"
#include "sandbox/TestFiles.h"

#include <arpa/inet.h>
#include <atomic>
#include <boost/algorithm/string/trim.hpp>
#include <functional>
#include <netinet/in.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/time.h>
#include <thread>
#include <unistd.h>

using korvo::mail::postfix::SettingsManager;
using korvo::test::runCommand;
using korvo::test::shell;

namespace {

std::string postconf(const std::string& name) {
    return boost::algorithm::trim_copy(runCommand({"/usr/sbin/postconf", "-h", name}).out);
}

using SettingsManagerTest = korvo::test::SandboxTest;

TEST_F(SettingsManagerTest, RelayModesLeaveTheExpectedRestrictions) {
    const std::string check = ", check_client_access pcre:/var/spool/postfix/korvo/no_relay.re, ";
    const std::string closed = "permit_mynetworks" + check + "reject_unauth_destination";
    const std::string auth =
        "permit_mynetworks" + check + "permit_sasl_authenticated, reject_unauth_destination";
    SettingsManager::setOpenRelay();
    EXPECT_EQ(postconf("smtpd_recipient_restrictions"), "permit" + check + "reject");
    EXPECT_EQ(postconf("smtpd_relay_restrictions"),
              "check_client_access static:OK, reject_unauth_destination");
    SettingsManager::setClosedRelay();
    EXPECT_EQ(postconf("smtpd_recipient_restrictions"), closed);
    EXPECT_EQ(postconf("smtpd_relay_restrictions"), "");

    SettingsManager::setOpenRelay();
    SettingsManager::setAuthRelay(true, true);
    SettingsManager::setAuthRelay(true, true);
    EXPECT_EQ(postconf("smtpd_sasl_auth_enable"), "yes");
    EXPECT_EQ(postconf("smtpd_recipient_restrictions"), auth);
    EXPECT_EQ(postconf("smtpd_relay_restrictions"), "");
    EXPECT_EQ(postconf("mynetworks"), "127.0.0.0/8 [::ffff:127.0.0.0]/104 [::1]/128, "
                                      "hash:/var/spool/postfix/korvo/poplock");

    // Undecided SMTP authentication leaves its parameters alone.
    SettingsManager::setOpenRelay();
    SettingsManager::setAuthRelay(boost::logic::indeterminate, false);
    EXPECT_EQ(postconf("smtpd_sasl_auth_enable"), "yes");
    EXPECT_EQ(postconf("smtpd_recipient_restrictions"), "permit" + check + "reject");
    EXPECT_EQ(postconf("mynetworks"), "127.0.0.0/8, [::ffff:127.0.0.0]/104, [::1]/128");

    SettingsManager::setAuthRelay(false, boost::logic::indeterminate);
    EXPECT_EQ(postconf("smtpd_sasl_auth_enable"), "no");
    EXPECT_EQ(postconf("smtpd_recipient_restrictions"), closed);
    EXPECT_EQ(postconf("smtpd_relay_restrictions"), "");
}

TEST_F(SettingsManagerTest, RblHostsReplaceOnlyTheRblChecks) {
    ASSERT_EQ(shell("postconf -e 'smtpd_client_restrictions=permit_mynetworks "
                    "reject_rbl_client old.example,, reject_unknown_client_hostname, "
                    "reject_rbl_client older.example reject_unauth_pipelining, "
                    "reject_rhsbl_client rhs.example'"),
              0);
    const std::vector<std::string> hosts{"b.example", "", "a.example"};
    SettingsManager::setRBLHosts(hosts.begin(), hosts.end());
    const std::string kept = "permit_mynetworks, reject_unknown_client_hostname, "
                             "reject_unauth_pipelining, reject_rhsbl_client rhs.example";
    EXPECT_EQ(postconf("smtpd_client_restrictions"),
              kept + ", reject_rbl_client b.example, reject_rbl_client a.example");
    SettingsManager::setRBLHosts(hosts.end(), hosts.end());
    EXPECT_EQ(postconf("smtpd_client_restrictions"), kept);
}

TEST_F(SettingsManagerTest, BlackListedDomainIsOneRecordUntilRemoved) {
    const std::vector<std::string> dump{"/usr/sbin/postmap", "-s",
                                        "hash:/var/spool/postfix/korvo/blacklists"};
    SettingsManager::addBlackDomain("spam.example");
    SettingsManager::addBlackDomain("spam.example");
    EXPECT_EQ(runCommand(dump).out, "spam.example\tREJECT\n");
    SettingsManager::removeBlackDomain("spam.example");
    SettingsManager::removeBlackDomain("spam.example");
    EXPECT_EQ(runCommand(dump).out, "");
}

// A client on 127.0.0.2, outside mynetworks (127.0.0.1/32), talking to the
// smtpd that the running Postfix starts for it.
class ForeignClient {
public:
    ForeignClient() : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        const timeval timeout{10, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        ::inet_pton(AF_INET, "127.0.0.2", &address.sin_addr);
        bound_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        address.sin_port = htons(25);
        ::inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
        connected_ =
            bound_ && ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~ForeignClient() { ::close(fd_); }
    ForeignClient(const ForeignClient&) = delete;
    ForeignClient& operator=(const ForeignClient&) = delete;

    // The server's next reply, all its lines; "" when none came in time.
    std::string reply() {
        std::string text;
        while (connected_) {
            const std::string::size_type end = pending_.find("\r\n");
            if (end != std::string::npos) {
                const std::string line = pending_.substr(0, end + 2);
                pending_.erase(0, end + 2);
                text += line;
                if (line.size() < 4 || line[3] != '-')
                    return text;
                continue;
            }
            char buffer[512];
            const ssize_t got = ::recv(fd_, buffer, sizeof buffer, 0);
            if (got <= 0)
                break;
            pending_.append(buffer, static_cast<std::size_t>(got));
        }
        return text;
    }

    std::string command(const std::string& line) {
        const std::string sent = line + "\r\n";
        if (!connected_ || ::send(fd_, sent.data(), sent.size(), MSG_NOSIGNAL) < 0)
            return "";
        return reply();
    }

    // The reply to a foreign recipient, or what ended the talk before it.
    std::string relayAttempt() {
        const std::string greeting = reply();
        if (greeting.rfind("220", 0) != 0)
            return "greeting: " + greeting;
        for (const char* step : {"EHLO client.example", "MAIL FROM:<a@client.example>"}) {
            const std::string answer = command(step);
            if (answer.rfind("250", 0) != 0)
                return std::string(step) + ": " + answer;
        }
        const std::string answer = command("RCPT TO:<b@foreign.example>");
        command("QUIT");
        return answer;
    }

private:
    int fd_;
    bool bound_ = false;
    bool connected_ = false;
    std::string pending_;
};

// Postfix running in the sandbox with every smtpd serving one client, so
// each conversation meets a freshly started smtpd reading main.cf anew.
class RelayModeTest : public korvo::test::SandboxTest {
protected:
    static constexpr char maillog[] = "/var/spool/postfix/maillog";

    void SetUp() override {
        SandboxTest::SetUp();
        ASSERT_EQ(shell(korvo::test::sandboxFile("postfix-prepare")), 0);
        korvo::test::writeFile("/var/spool/postfix/korvo/no_relay.re", "");
        // Foreign mail takes the ordinary transports, so that only relay
        // control can refuse it; the client quits before any is queued.
        ASSERT_EQ(shell(std::string("postconf -e mynetworks=127.0.0.1/32 max_use=1 "
                                    "default_transport=smtp relay_transport=relay "
                                    "smtpd_peername_lookup=no maillog_file=") +
                        maillog),
                  0);
        ASSERT_EQ(shell("env -i LANG=C /etc/init.d/postfix start >/dev/null"), 0);
        started_ = true;
    }
    void TearDown() override {
        if (started_)
            shell("env -i LANG=C /etc/init.d/postfix stop >/dev/null");
    }

    // Runs change while another client keeps connecting, so that an smtpd
    // starting between two of its postconf runs would show in the log.
    static void changeUnderTraffic(const std::function<void()>& change) {
        std::atomic<bool> done{false};
        std::thread traffic([&done] {
            while (!done) {
                ForeignClient client;
                client.reply();
                client.command("QUIT");
            }
        });
        change();
        done = true;
        traffic.join();
    }

    static std::string fatalLines() {
        std::string lines;
        std::istringstream log(korvo::test::readFile(maillog));
        for (std::string line; std::getline(log, line);)
            if (line.find("fatal:") != std::string::npos)
                lines += line + "\n";
        return lines;
    }

private:
    bool started_ = false;
};

TEST_F(RelayModeTest, EachModeHoldsForAForeignClientAndSmtpdKeepsAnswering) {
    const std::string denied = "Relay access denied";
    const struct {
        const char* name;
        std::function<void()> set;
        bool relayDenied;
    } modes[] = {
        {"closed", SettingsManager::setClosedRelay, true},
        {"open", SettingsManager::setOpenRelay, false},
        {"authenticated", [] { SettingsManager::setAuthRelay(true, false); }, true},
        {"open again", SettingsManager::setOpenRelay, false},
        {"authenticated without SMTP AUTH", [] { SettingsManager::setAuthRelay(false, false); },
         true},
    };
    for (const auto& mode : modes) {
        changeUnderTraffic(mode.set);
        const std::string answer = ForeignClient().relayAttempt();
        EXPECT_EQ(answer.rfind(mode.relayDenied ? "554" : "250", 0), 0u)
            << mode.name << ": " << answer;
        EXPECT_EQ(answer.find(denied) != std::string::npos, mode.relayDenied)
            << mode.name << ": " << answer;
        ASSERT_EQ(fatalLines(), "") << "after the " << mode.name << " relay mode";
    }
}

} // namespace
