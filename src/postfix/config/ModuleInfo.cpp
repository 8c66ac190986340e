#include "postfix/config/ModuleInfo.h"

namespace korvo::mail::postfix {

namespace {

char flagChar(boost::logic::tribool value) {
    if (value)
        return 'y';
    if (!value)
        return 'n';
    return '-';
}

} // namespace

std::string ModuleInfo::format() const {
    std::string line = name;
    line += ' ';
    line += moduleTypeWord(type);
    for (const boost::logic::tribool flag : {privateService, unprivileged, chroot}) {
        line += ' ';
        line += flagChar(flag);
    }
    line += ' ';
    if (wakeup == -1) {
        line += '-';
    } else {
        line += std::to_string(wakeup);
        if (wakeupConditional)
            line += '?';
    }
    line += ' ';
    line += maxProcesses == -1 ? std::string("-") : std::to_string(maxProcesses);
    for (const std::string& word : command) {
        line += ' ';
        line += word;
    }
    return line;
}

} // namespace korvo::mail::postfix
