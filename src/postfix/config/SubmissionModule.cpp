#include "postfix/config/SubmissionModule.h"

#include "postfix/config/SmtpdModule.h"

namespace korvo::mail::postfix {

SubmissionModule::SubmissionModule() {
    name = "submission";
    type = ModuleType::INET;
    privateService = false;
    chroot = false;
    command = {"smtpd",
               "-o smtpd_enforce_tls=yes",
               "-o smtpd_tls_security_level=encrypt",
               "-o smtpd_sasl_auth_enable=yes",
               "-o smtpd_client_restrictions=permit_sasl_authenticated,reject",
               "-o smtpd_sender_restrictions=",
               SmtpdModule::proxyFilterOption()};
}

} // namespace korvo::mail::postfix
