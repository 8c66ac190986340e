// Postfix SMTP AUTH through Courier's authentication daemon: Cyrus SASL's
// authdaemond method, the daemon's socket reachable by smtpd (whose smtp
// service MasterCfSetup unchroots), and a TLS certificate and key for the
// submission service.
//
// An smtpd.conf that differs from what setup writes is someone else's:
// refused unless force, before anything changes (the TLS settings are
// main.cf settings, judged with the others in MainCfSetup). A certificate setup makes is self-signed, made in a
// private temporary directory and renamed into place, so a killed run leaves
// no half-written key. Failures raise korvo::SystemError naming the file and
// the system error, std::runtime_error for a program that fails (with its
// output), PostfixConfigurationError from postconf.
#ifndef KORVO_SETUP_SASLSETUP_H
#define KORVO_SETUP_SASLSETUP_H

#include "setup/SetupReport.h"

#include <string>
#include <vector>

namespace korvo::setup {

// Where Courier's authentication daemon listens; smtpd connects there.
inline constexpr char AUTHDAEMON_SOCKET[] = "/run/courier/authdaemon/socket";
// The group that may enter the socket's directory.
inline constexpr char COURIER_GROUP[] = "courier";

// The certificate and key smtpd offers; both empty: none named.
struct TlsFiles {
    std::string cert;
    std::string key;
};

// The text of smtpd.conf.
std::string saslConfig();

// Where Cyrus SASL reads smtpd's settings.
inline std::string saslDirectory(const std::string& configDir) {
    return configDir + "/sasl";
}

// An smtpd.conf in saslDir that differs from saslConfig() is someone
// else's: its refusal, judged before anything changes; none with force.
std::vector<std::string> saslConfigRefusals(const std::string& saslDir, bool force);

// smtpd.conf in saslDir, replaced when it differs (saslConfigRefusals
// judged that first); true when written.
bool ensureSaslConfig(const std::string& saslDir, bool force, SetupReport& report);

// Adds user to group (usermod); true when it was not a member.
bool ensureGroupMember(const std::string& user, const std::string& group, SetupReport& report);

// The files to name in main.cf: named ones (which must exist), else those
// main.cf names already (configured; when the certificate can be read),
// else the self-signed pair setup makes in configDir.
TlsFiles chooseTlsFiles(const TlsFiles& named, const TlsFiles& configured,
                        const std::string& configDir);

// The self-signed pair's names in configDir.
TlsFiles selfSignedFiles(const std::string& configDir);

// Makes the self-signed pair unless both files exist.
void ensureSelfSigned(const std::string& configDir, SetupReport& report);

} // namespace korvo::setup

#endif
