#include "platform/net_interfaces.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <netinet/in.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <map>

namespace orvane::platform {

namespace {

bool HasDevice(const std::string& name) {
    struct stat st {};
    std::string path = "/sys/class/net/" + name + "/device";
    return ::stat(path.c_str(), &st) == 0;
}

}  // namespace

int ListNetInterfaces(std::vector<NetInterface>* out) {
    out->clear();
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) {
        return errno ? errno : EIO;
    }
    // getifaddrs yields one entry per interface and family; merge them by name.
    std::map<std::string, NetInterface> byName;
    for (ifaddrs* a = list; a; a = a->ifa_next) {
        if (!a->ifa_name) {
            continue;
        }
        // An address with a label ("eth0:1") belongs to the interface before the colon.
        std::string name = a->ifa_name;
        name = name.substr(0, name.find(':'));
        NetInterface& nif = byName[name];
        nif.szName = name;
        nif.bUp = (a->ifa_flags & IFF_UP) && (a->ifa_flags & IFF_RUNNING);
        nif.bLoopback = (a->ifa_flags & IFF_LOOPBACK) != 0;
        if (!a->ifa_addr) {
            continue;
        }
        if (a->ifa_addr->sa_family == AF_PACKET) {
            const auto* ll = reinterpret_cast<const sockaddr_ll*>(a->ifa_addr);
            nif.iIndex = static_cast<unsigned>(ll->sll_ifindex);
            nif.bEthernet = ll->sll_hatype == ARPHRD_ETHER;
            size_t len = std::min<size_t>(ll->sll_halen, sizeof ll->sll_addr);
            nif.vecHardwareAddr.assign(ll->sll_addr, ll->sll_addr + len);
        } else if (a->ifa_addr->sa_family == AF_INET) {
            const auto* in = reinterpret_cast<const sockaddr_in*>(a->ifa_addr);
            char text[INET_ADDRSTRLEN] = {};
            if (::inet_ntop(AF_INET, &in->sin_addr, text, sizeof text)) {
                nif.vecIpv4.emplace_back(text);
            }
        }
    }
    ::freeifaddrs(list);

    for (auto& [name, nif] : byName) {
        if (nif.iIndex == 0) {
            nif.iIndex = ::if_nametoindex(name.c_str());
        }
        nif.bHasDevice = HasDevice(name);
        out->push_back(std::move(nif));
    }
    std::stable_sort(out->begin(), out->end(), [](const NetInterface& x, const NetInterface& y) {
        return x.iIndex < y.iIndex;
    });
    return 0;
}

}  // namespace orvane::platform
