// One service entry of master.cf: the seven fixed fields and the command.
//
// A ModuleInfo is a plain copyable value. Entries are identified by their
// key, the pair (service name, service type), so "smtp inet" and
// "smtp unix" are different services. format() renders a value that did not
// come from a file as one master.cf line with single blanks between fields;
// entries read from a file keep their own text instead (see MasterCfContent).
#ifndef KORVO_POSTFIX_MODULEINFO_H
#define KORVO_POSTFIX_MODULEINFO_H

#include "postfix/config/ModuleType.h"

#include <boost/logic/tribool.hpp>
#include <list>
#include <string>
#include <utility>

namespace korvo::mail::postfix {

// Ordered by name, then by type.
using ModuleKey = std::pair<std::string, ModuleType>;

class ModuleInfo {
public:
    std::string name;
    ModuleType type = ModuleType::INET;
    // y/n/- in the file; "-" leaves Postfix's own default.
    boost::logic::tribool privateService{boost::logic::indeterminate};
    boost::logic::tribool unprivileged{boost::logic::indeterminate};
    boost::logic::tribool chroot{false};
    // -1 stands for "-".
    int wakeup = -1;
    // The "?" after the wakeup time.
    bool wakeupConditional = false;
    // -1 stands for "-".
    int maxProcesses = -1;
    // The command name, then each argument word.
    std::list<std::string> command;

    ModuleKey key() const { return {name, type}; }

    // "name type private unpriv chroot wakeup maxproc command words...".
    std::string format() const;
};

} // namespace korvo::mail::postfix

#endif
