#include "postfix/config/SmtpsdModule.h"

namespace korvo::mail::postfix {

SmtpsdModule::SmtpsdModule() {
    name = "smtps";
    command.push_back("-o smtpd_tls_wrappermode=yes");
}

} // namespace korvo::mail::postfix
