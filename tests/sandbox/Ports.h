// Listening sockets of the sandbox's network namespace, read from
// /proc/net/tcp and /proc/net/tcp6 (Courier listens on IPv6 with IPv4
// mapped, Postfix on IPv4).
#ifndef KORVO_TESTS_PORTS_H
#define KORVO_TESTS_PORTS_H

namespace korvo::test {

// Whether a TCP listener on port is there (wanted) or gone within five
// seconds.
bool becomesListening(int port, bool wanted);

} // namespace korvo::test

#endif
