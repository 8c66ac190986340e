#include "postfix/service/CourierService.h"

#include "utils/CourierDaemons.h"
#include "utils/ServiceScripts.h"

namespace korvo::mail::postfix {

namespace {

const char singleScript[] = "courier-imap";

// SelectedMailComponents bit -> Courier daemon.
const struct {
    unsigned component;
    CourierDaemon daemon;
} daemonOf[] = {
    {0x10, COURIER_POP3},
    {0x20, COURIER_IMAP},
    {0x40, COURIER_POP3S},
    {0x80, COURIER_IMAPS},
};

unsigned daemons(unsigned components) {
    unsigned result = 0;
    for (const auto& entry : daemonOf)
        if (components & entry.component)
            result |= entry.daemon;
    return result;
}

} // namespace

int CourierService::control(unsigned components, const char* action) {
    if (daemons(components) == 0)
        return 0;
    if (!courier_split_scripts())
        return restart_daemon(singleScript, action);
    return courier_control(daemons(components), action);
}

int CourierService::status(unsigned component) {
    if (!courier_split_scripts())
        return restart_daemon(singleScript, "status");
    return courier_status(daemons(component));
}

} // namespace korvo::mail::postfix
