#include "postfix/config/ModuleType.h"

namespace korvo::mail::postfix {

const char* moduleTypeWord(ModuleType type) {
    switch (type) {
    case ModuleType::INET:
        return "inet";
    case ModuleType::UNIX:
        return "unix";
    case ModuleType::FIFO:
        return "fifo";
    case ModuleType::UNIX_DGRAM:
        return "unix-dgram";
    case ModuleType::PASS:
        return "pass";
    }
    return "inet";
}

} // namespace korvo::mail::postfix
