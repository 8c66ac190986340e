// The before-queue filter run as spawn runs it, against the real smtpd:
// whatever goes wrong, the client gets a temporary error, nothing queued.
#include "front/CommandFixture.h"
#include "mail/handlers/MailHandlers.h"
#include "setup/SetupFixture.h"

#include <sys/stat.h>
#include <unistd.h>

namespace korvo::test {
namespace {

const std::string session = "EHLO client.example\r\nMAIL FROM:<a@remote.example>\r\n"
                            "RCPT TO:<b@elsewhere.example>\r\nDATA\r\nSubject: x\r\n\r\n"
                            "..dot\r\n.\r\nQUIT\r\n";

CommandResult filter(const std::string& nextHop, const std::string& input = session) {
    return runCommand({VORNCTL_FILTER_BINARY, "--next-hop=" + nextHop}, {}, input);
}

// The reply codes the client saw, one a line, continuation lines left out.
std::string codes(const std::string& replies) {
    std::string result;
    for (const std::string& line : lines(replies))
        if (line.size() > 3 && line[3] == ' ')
            result += line.substr(0, 3) + " ";
    return result;
}

class FilterTest : public RunningPostfixTest {};

TEST_F(FilterTest, NoNextHopIsATemporaryError) {
    const CommandResult result = filter("127.0.0.1:1");
    EXPECT_EQ(75, result.status);
    EXPECT_EQ("421 4.3.0 Filter failure, try again later\r\n", result.out);
}

TEST_F(FilterTest, AFailingHandlerDefersAndTheNextHopQueuesNothing) {
    startPostfix();
    EXPECT_EQ("220 250 250 250 354 250 221 ", codes(filter("127.0.0.1:25").out));

    const std::string crash = writeScript("/usr/local/orq/crash", "echo noise >&2\nkill -SEGV $$");
    ASSERT_EQ(
        0, mail_handler_add("crash", "global", "", crash.c_str(), "ctx", "before-queue", "1", 2));
    const CommandResult deferred = filter("127.0.0.1:25");
    EXPECT_EQ("220 250 250 250 354 451 221 ", codes(deferred.out)) << deferred.out;
    // spawn gives the filter the session as standard error too: nothing may
    // come out there.
    EXPECT_EQ("", deferred.err);
    // The next hop saw the transaction reset, never its end: one message
    // only went into the queue.
    ::sleep(1);
    const std::string log = readFile("/var/spool/postfix/maillog");
    EXPECT_NE(std::string::npos, log.find("rset=1")) << log;
    EXPECT_EQ("1\n", shellOutput("grep -c 'cleanup.*message-id=' /var/spool/postfix/maillog"));
}

} // namespace
} // namespace korvo::test
