// The host's IPv4 network interfaces.
//
// get_ifaceinfo lists the configured IPv4 addresses of the host (loopback
// addresses 127.0.0.0/8 left out) as a newly allocated array ended by an
// entry whose name is empty; free it with free_ifaceinfo. It reads the
// kernel's interface table through ioctl on a datagram socket. A failure to
// query the table gives null after a message through korvo_log; a netmask or
// hardware address that cannot be read is filled with a neutral value
// instead ("255.255.255.255", "00:00:00:00:00:00").
#ifndef KORVO_UTILS_IFACEINFO_H
#define KORVO_UTILS_IFACEINFO_H

#include <netinet/in.h>

struct ifaceinfo {
    char name[32];
    in_addr_t in_addr; // network byte order
    char ip[40];
    char mask[40];
    char mac[32]; // "xx:xx:xx:xx:xx:xx"; empty for alias interfaces ("eth0:1")
};

// count, when not null, receives the number of interfaces listed.
ifaceinfo* get_ifaceinfo(int* count);
void free_ifaceinfo(ifaceinfo* list);

#endif
