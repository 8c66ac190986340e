#include "mail/storage/MailPaths.h"

#include "utils/Idn.h"
#include "utils/Logging.h"
#include "utils/MallocOwners.h"
#include "utils/OrqConf.h"

#include <cerrno>
#include <cstdlib>
#include <memory>

namespace korvo::mail {

std::string mailnamesRoot() {
    return orqConfGetDefaultByIndex(KORVO_MAILNAMES_D);
}

std::string mailHomePath(const std::string& domain, const std::string& mailname) {
    return mailnamesRoot() + "/" + domain + "/" + mailname;
}

std::string asciiDomain(const char* domain, bool showDomain, int exitStatus) {
    const korvo::MallocString ascii(idn_toascii(domain));
    if (ascii != nullptr)
        return ascii.get();
    errno = 0;
    if (showDomain)
        messlog2(exitStatus, 0, "idn_toascii(%s) failed: %s", domain, idn_strerror(idn_errno));
    else
        messlog2(exitStatus, 0, "idn_toascii() failed: %s", idn_strerror(idn_errno));
    return "";
}

} // namespace korvo::mail
