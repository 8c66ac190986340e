#include "utils/IfaceInfo.h"

#include "utils/FdOwner.h"
#include "utils/Logging.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <vector>

namespace {

int ioctlRetrying(int fd, unsigned long request, void* argument) {
    int rc;
    do
        rc = ::ioctl(fd, request, argument);
    while (rc < 0 && errno == EINTR);
    return rc;
}

// The kernel's interface table; the buffer grows until the table no longer
// fills it, since a full buffer may have been cut short.
bool readInterfaceTable(int fd, std::vector<ifreq>& table) {
    for (std::size_t entries = 2;; entries *= 2) {
        table.assign(entries, ifreq{});
        ifconf conf{};
        conf.ifc_len = static_cast<int>(entries * sizeof(ifreq));
        conf.ifc_req = table.data();
        if (ioctlRetrying(fd, SIOCGIFCONF, &conf) < 0) {
            korvo_log(LOG_LEVEL_ERROR, "unable to query SIOCGIFCONF: %s\n", std::strerror(errno));
            return false;
        }
        if (static_cast<std::size_t>(conf.ifc_len) < entries * sizeof(ifreq)) {
            table.resize(static_cast<std::size_t>(conf.ifc_len) / sizeof(ifreq));
            return true;
        }
    }
}

in_addr addressOf(const sockaddr& address) {
    sockaddr_in inet{};
    std::memcpy(&inet, &address, sizeof inet);
    return inet.sin_addr;
}

bool isLoopback(in_addr address) {
    return (ntohl(address.s_addr) >> 24) == 127;
}

void fillMask(int fd, const ifreq& entry, ifaceinfo& info) {
    ifreq request = entry;
    in_addr mask{};
    mask.s_addr = INADDR_NONE;
    if (ioctlRetrying(fd, SIOCGIFNETMASK, &request) == 0)
        mask = addressOf(request.ifr_netmask);
    inet_ntop(AF_INET, &mask, info.mask, sizeof info.mask);
}

void fillMac(int fd, const ifreq& entry, ifaceinfo& info) {
    if (std::strchr(info.name, ':') != nullptr)
        return;
    ifreq request = entry;
    unsigned char mac[6] = {0, 0, 0, 0, 0, 0};
    if (ioctlRetrying(fd, SIOCGIFHWADDR, &request) == 0)
        std::memcpy(mac, request.ifr_hwaddr.sa_data, sizeof mac);
    else
        korvo_log(LOG_LEVEL_ERROR, "Can't get Mac-addr with SIOCGIFHWADDR\n");
    std::snprintf(info.mac, sizeof info.mac, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1],
                  mac[2], mac[3], mac[4], mac[5]);
}

} // namespace

ifaceinfo* get_ifaceinfo(int* count) {
    const korvo::FdOwner sock(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (sock.get() < 0) {
        korvo_log(LOG_LEVEL_ERROR, "Can't create socket: %s\n", std::strerror(errno));
        return nullptr;
    }
    std::vector<ifreq> table;
    if (!readInterfaceTable(sock.get(), table))
        return nullptr;
    auto* list = static_cast<ifaceinfo*>(std::calloc(table.size() + 1, sizeof(ifaceinfo)));
    if (list == nullptr) {
        korvo_log(LOG_LEVEL_ERROR, "Can't allocate ifaceinfo buffer from %d elements\n",
                  static_cast<int>(table.size() + 1));
        return nullptr;
    }
    int listed = 0;
    for (const ifreq& entry : table) {
        const in_addr address = addressOf(entry.ifr_addr);
        if (entry.ifr_addr.sa_family != AF_INET || isLoopback(address))
            continue;
        ifaceinfo& info = list[listed++];
        std::snprintf(info.name, sizeof info.name, "%.*s", IFNAMSIZ, entry.ifr_name);
        info.in_addr = address.s_addr;
        inet_ntop(AF_INET, &address, info.ip, sizeof info.ip);
        fillMask(sock.get(), entry, info);
        fillMac(sock.get(), entry, info);
    }
    if (count != nullptr)
        *count = listed;
    return list;
}

void free_ifaceinfo(ifaceinfo* list) {
    std::free(list);
}
