// The master.cf services setup adds: the pipe transport through which
// Postfix hands mail for the tool's domains to the delivery agent, run as
// popuser, one recipient per run, with the sender passed on (empty for
// bounces) so that forwarded copies keep it.
//
// MasterCfChanges loads master.cf (ModuleManager, whose lock it then holds
// until write() stores the file or the process ends) and judges every
// wanted service: a missing one is to be added; an existing one that
// differs, or one switched off into the file of disabled services, is
// someone else's and refused unless force, which replaces it. A chrooted
// smtp service (as Debian ships it) cannot reach Courier's authentication
// daemon for SMTP AUTH: refused unless force, which unchroots it. Failures are
// those of ModuleManager (PostfixConfigurationError and the file errors it
// names).
#ifndef KORVO_SETUP_MASTERCFSETUP_H
#define KORVO_SETUP_MASTERCFSETUP_H

#include "postfix/config/ModuleInfo.h"
#include "postfix/config/ModuleManager.h"
#include "setup/SetupReport.h"

#include <string>
#include <vector>

namespace korvo::setup {

// The service entry for the agent at agentPath.
mail::postfix::ModuleInfo deliveryService(const std::string& agentPath);

// The before-queue filter that the tool's smtp, smtps and submission
// services hand each session to (smtpd_proxy_filter=127.0.0.1:10025) runs
// through the master's spawn service: one filter process per session, as
// popuser, under the master's process limit and lifetime, so there is no
// daemon of its own to start, watch or stop. The filter passes accepted
// mail on to a second smtpd on 127.0.0.1:10026 without a proxy filter.
mail::postfix::ModuleInfo filterService(const std::string& filterPath);
mail::postfix::ModuleInfo reinjectionService();

// The transport korvo-remote runs the before-remote handlers, as popuser,
// and hands the message to a third smtpd on 127.0.0.1:10027 whose
// content_filter sends everything on through the smtp client, to
// $relayhost or the recipient's domain. main.cf's default_transport and
// relay_transport name it (see MainCfSetup.h).
mail::postfix::ModuleInfo remoteService(const std::string& remotePath);
mail::postfix::ModuleInfo remoteReinjectionService();

// Every service setup wants in master.cf.
std::vector<mail::postfix::ModuleInfo> wantedServices(const std::string& agentPath,
                                                      const std::string& filterPath,
                                                      const std::string& remotePath);

class MasterCfChanges {
public:
    MasterCfChanges(const std::string& agentPath, const std::string& filterPath,
                    const std::string& remotePath, bool force);

    const std::vector<std::string>& refusals() const { return refusals_; }
    bool empty() const { return additions_.empty(); }

    // Adds or replaces the services judged missing; true when master.cf
    // was written.
    bool write(SetupReport& report) const;

private:
    void judgeSmtpChroot(const mail::postfix::ModuleManager& manager, bool force);

    std::vector<mail::postfix::ModuleInfo> additions_;
    std::vector<std::string> changes_;
    std::vector<std::string> refusals_;
};

} // namespace korvo::setup

#endif
