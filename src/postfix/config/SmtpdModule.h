// The SMTP listener (service "smtp", type inet) as the tool installs it:
// smtpd with its mail handed to the content filter proxy on
// 127.0.0.1:10025.
//
// A plain ModuleInfo value, built complete by the constructor; it cannot
// fail. Pass it to ModuleManager or ServiceManager::addOrEnableModule.
#ifndef KORVO_POSTFIX_SMTPDMODULE_H
#define KORVO_POSTFIX_SMTPDMODULE_H

#include "postfix/config/ModuleInfo.h"

#include <string>

namespace korvo::mail::postfix {

class SmtpdModule : public ModuleInfo {
public:
    SmtpdModule();

    // "-o smtpd_proxy_filter=127.0.0.1:10025", shared by every listener the
    // tool installs.
    static std::string proxyFilterOption();
};

} // namespace korvo::mail::postfix

#endif
