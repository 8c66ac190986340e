// The master.cf service through which Postfix hands mail for the tool's
// domains to the delivery agent: a pipe transport run as popuser, one
// recipient per run, with the sender passed on (empty for bounces) so that
// forwarded copies keep it.
//
// An existing service of that name that differs from the wanted one is left
// as it is unless force; one that was switched off into the file of
// disabled services stays off unless force. Failures are those of
// ModuleManager (PostfixConfigurationError and the file errors it names).
#ifndef KORVO_SETUP_MASTERCFSETUP_H
#define KORVO_SETUP_MASTERCFSETUP_H

#include "postfix/config/ModuleInfo.h"
#include "setup/SetupReport.h"

#include <string>

namespace korvo::setup {

// The service entry for the agent at agentPath.
mail::postfix::ModuleInfo deliveryService(const std::string& agentPath);

// True when master.cf was written.
bool ensureDeliveryService(const std::string& agentPath, bool force, SetupReport& report);

} // namespace korvo::setup

#endif
