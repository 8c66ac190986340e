// The result of a C-style library function as the commands read it: the
// function has logged its own failure and returned -1. Any other result is
// success, and some functions say more with it (1 when a domain is
// switched off, when aliases were touched too).
#ifndef KORVO_FRONT_LIBRARYRESULT_H
#define KORVO_FRONT_LIBRARYRESULT_H

namespace korvo::mail::postfix::vornctl_commands {

inline bool failed(int libraryResult) {
    return libraryResult == -1;
}

// The exit status for the result: 1 for a failure, else 0.
inline int statusOf(int libraryResult) {
    return failed(libraryResult) ? 1 : 0;
}

} // namespace korvo::mail::postfix::vornctl_commands

#endif
