// The Courier components of the service commands (pop3, imap, pop3s,
// imaps, the bits of SelectedMailComponents): each is governed through its
// own Debian init script (utils/CourierDaemons.h). Where Courier comes as
// one script, every request goes to that script. Results as
// restart_daemon's; status: 0 running, 1 stopped, -1 unknown.
#ifndef KORVO_POSTFIX_SERVICE_COURIERSERVICE_H
#define KORVO_POSTFIX_SERVICE_COURIERSERVICE_H

namespace korvo::mail::postfix {

class CourierService {
public:
    // action: start, stop, restart or reload; components outside Courier
    // are ignored.
    static int control(unsigned components, const char* action);
    // The state of the one component's daemon.
    static int status(unsigned component);
};

} // namespace korvo::mail::postfix

#endif
