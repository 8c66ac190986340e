// Mail access with the passwords the tool stores: Courier IMAP and POP3
// log users in through Courier's authentication daemon over the tool's
// authentication database, and Postfix's SMTP AUTH asks the same daemon.
// Failures propagate from the steps (CourierSetup.h, SaslSetup.h).
#ifndef KORVO_SETUP_MAILACCESSSETUP_H
#define KORVO_SETUP_MAILACCESSSETUP_H

#include "setup/SaslSetup.h"
#include "setup/SetupReport.h"

namespace korvo::setup {

inline constexpr char COURIER_CONFIG_DIR[] = "/etc/courier";
inline constexpr char AUTHDAEMON_SCRIPT[] = "/etc/init.d/courier-authdaemon";

// True when Postfix must reload to see what changed.
bool ensureMailAccess(bool force, SetupReport& report);

} // namespace korvo::setup

#endif
