#include "utils/Accounts.h"

#include "utils/Logging.h"

#include <pwd.h>

int korvo_getpw(const char* account, uid_t* uid, gid_t* gid, std::string* home) {
    const passwd* entry = ::getpwnam(account);
    if (entry == nullptr) {
        return korvo_error("Unable to getpwnam for user %s", account);
    }
    if (uid != nullptr)
        *uid = entry->pw_uid;
    if (gid != nullptr)
        *gid = entry->pw_gid;
    if (home != nullptr)
        *home = entry->pw_dir;
    return 0;
}

unsigned int korvo_ugid(const char* account, int wantGroup) {
    const passwd* entry = ::getpwnam(account);
    if (entry == nullptr)
        return 0;
    return wantGroup ? entry->pw_gid : entry->pw_uid;
}
