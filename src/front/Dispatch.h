// The entry of one vornctl run: picks the command named by the first word
// and runs its handler with the remaining words.
//
// do_main fixes the mail-authentication database location, builds the
// command table (rebuilt on every run; it lives only inside do_main), and
// returns the handler's status. A missing or unknown command word prints an
// error and the short usage on standard error and ends the process with 1.
// Exceptions pass through to main, which reports them.
#ifndef KORVO_FRONT_DISPATCH_H
#define KORVO_FRONT_DISPATCH_H

namespace korvo::mail::postfix::vornctl_commands {

int do_main(int argc, char** argv);

} // namespace korvo::mail::postfix::vornctl_commands

#endif
