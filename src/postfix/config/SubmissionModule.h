// The message submission listener (service "submission", type inet): smtpd
// that insists on TLS and SASL authentication, accepts only authenticated
// clients and hands mail to the same filter proxy as SmtpdModule.
//
// A plain ModuleInfo value, built complete by the constructor; it cannot
// fail.
#ifndef KORVO_POSTFIX_SUBMISSIONMODULE_H
#define KORVO_POSTFIX_SUBMISSIONMODULE_H

#include "postfix/config/ModuleInfo.h"

namespace korvo::mail::postfix {

class SubmissionModule : public ModuleInfo {
public:
    SubmissionModule();
};

} // namespace korvo::mail::postfix

#endif
