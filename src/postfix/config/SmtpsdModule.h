// The SMTPS listener (service "smtps", type inet): the SMTP listener of
// SmtpdModule behind TLS from the first byte (smtpd_tls_wrappermode).
//
// A plain ModuleInfo value, built complete by the constructor; it cannot
// fail.
#ifndef KORVO_POSTFIX_SMTPSDMODULE_H
#define KORVO_POSTFIX_SMTPSDMODULE_H

#include "postfix/config/SmtpdModule.h"

namespace korvo::mail::postfix {

class SmtpsdModule : public SmtpdModule {
public:
    SmtpsdModule();
};

} // namespace korvo::mail::postfix

#endif
