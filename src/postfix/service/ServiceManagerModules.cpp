// The module operations of ServiceManager: they edit master.cf through a
// loaded ModuleManager and leave the running Postfix alone.
#include "postfix/config/ModuleManager.h"
#include "postfix/service/ServiceManager.h"
#include "postfix/config/SubmissionModule.h"

namespace korvo::mail::postfix {

void ServiceManager::addOrEnableModule(ModuleManager& manager, const ModuleInfo& info) {
    // An entry already there, enabled or not, keeps its own text and options.
    if (manager.hasModule(info.name, info.type, IN_EITHER_FILE))
        manager.enableModule(info.name, info.type);
    else
        manager.addModule(info, TO_MASTER_CF);
}

bool ServiceManager::disableSubmission(ModuleManager& manager) {
    const SubmissionModule submission;
    return manager.disableModule(submission.name, submission.type);
}

} // namespace korvo::mail::postfix
