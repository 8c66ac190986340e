#include "utils/MailValidate.h"

#include "utils/Logging.h"

#include <cstring>

int mail_validate(const char* name, int type) {
    if (type != MAIL_VALIDATE_MAILNAME) {
        korvo_log(LOG_LEVEL_INFO, "unknown validation_type: %d", type);
        return 0;
    }
    return std::strstr(name, "..") == nullptr ? 1 : 0;
}
