// vornctl-filter: the before-queue filter behind the tool's smtp, smtps and
// submission services. Postfix's master runs it through spawn(8) for each
// connection that smtpd's smtpd_proxy_filter opens to 127.0.0.1:10025, with
// that connection on standard input and output; it speaks SMTP with smtpd
// and passes the session on to the reinjection smtpd. See vornctl-handlers(7).
// spawn connects standard error to the session too, so the filter points it
// at /dev/null (handlers inherit that) and logs through syslog (facility
// mail). Any failure gives smtpd a 421 reply, which the client sees as a
// temporary error; the exit status is then 75.
#include "filter/ProxySession.h"
#include "handlers/SmtpChannel.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <syslog.h>
#include <unistd.h>

namespace korvo::filter {
namespace {

const char* const NEXT_HOP_OPTION = "--next-hop=";
const char* const DEFAULT_NEXT_HOP = "127.0.0.1:10026";
const char* const SPOOL_DIRECTORY = "/var/tmp";
constexpr int EXIT_TEMPORARY = 75;
constexpr auto CLIENT_TIMEOUT = std::chrono::seconds(300);
constexpr auto NEXT_HOP_TIMEOUT = std::chrono::seconds(300);
// smtpd waits smtpd_proxy_timeout (100 s by default) for the end-of-data
// reply: the handlers must be done well before.
constexpr auto HANDLER_TIME_LIMIT = std::chrono::seconds(30);
constexpr auto HANDLERS_TOTAL_LIMIT = std::chrono::seconds(75);

int run(int argc, char** argv) {
    ::openlog("vornctl-filter", LOG_PID, LOG_MAIL);
    const int null = ::open("/dev/null", O_WRONLY);
    if (null < 0 || ::dup2(null, 2) < 0) {
        ::syslog(LOG_ERR, "cannot point standard error at /dev/null: %m");
        return EXIT_TEMPORARY;
    }
    if (null != 2)
        ::close(null);
    std::string nextHopAddress = DEFAULT_NEXT_HOP;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind(NEXT_HOP_OPTION, 0) != 0) {
            ::syslog(LOG_ERR, "usage: vornctl-filter [--next-hop=IPV4:PORT]");
            return 2;
        }
        nextHopAddress = arg.substr(std::strlen(NEXT_HOP_OPTION));
    }
    SmtpChannel client(0, 1, "client", CLIENT_TIMEOUT);
    try {
        const FdOwner socket(handlers::connectTo(nextHopAddress));
        SmtpChannel nextHop(socket.get(), socket.get(), "next hop", NEXT_HOP_TIMEOUT);
        SessionSettings settings;
        settings.limits = {HANDLER_TIME_LIMIT, HANDLERS_TOTAL_LIMIT, SPOOL_DIRECTORY};
        ProxySession(client, nextHop, settings).run();
        return 0;
    } catch (const std::exception& error) {
        ::syslog(LOG_ERR, "%s", error.what());
        try {
            client.write("421 4.3.0 Filter failure, try again later\r\n");
            client.flush();
        } catch (const ChannelError&) {
            // The client is gone as well; it will try again.
        }
    }
    return EXIT_TEMPORARY;
}

} // namespace
} // namespace korvo::filter

int main(int argc, char** argv) {
    // A peer that hangs up is a write error, not a signal.
    std::signal(SIGPIPE, SIG_IGN);
    return korvo::filter::run(argc, argv);
}
