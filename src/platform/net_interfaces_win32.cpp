#include "platform/net_interfaces.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <iphlpapi.h>

#include <algorithm>
#include <vector>

#include "platform/win32_util.h"

namespace orvane::platform {

namespace {

// Filled from one adapter record. Windows names its adapters by what they are ("Intel(R)
// Ethernet Connection", "Hyper-V Virtual Ethernet Adapter"), which is what the selection's filter
// words look at: the description is the name here, and every adapter counts as having a device.
NetInterface FromAdapter(const IP_ADAPTER_ADDRESSES& a) {
    NetInterface n;
    n.szName = a.Description ? win32::Utf8(a.Description) : std::string();
    n.iIndex = a.IfIndex;
    n.bHasDevice = true;
    n.bUp = a.OperStatus == IfOperStatusUp;
    n.bLoopback = a.IfType == IF_TYPE_SOFTWARE_LOOPBACK;
    n.bEthernet = a.IfType == IF_TYPE_ETHERNET_CSMACD || a.IfType == IF_TYPE_IEEE80211;
    n.vecHardwareAddr.assign(a.PhysicalAddress, a.PhysicalAddress + a.PhysicalAddressLength);
    for (const IP_ADAPTER_UNICAST_ADDRESS* u = a.FirstUnicastAddress; u; u = u->Next) {
        const SOCKADDR* sa = u->Address.lpSockaddr;
        if (sa == nullptr || sa->sa_family != AF_INET) {
            continue;
        }
        char text[INET_ADDRSTRLEN] = {};
        const auto* in = reinterpret_cast<const sockaddr_in*>(sa);
        if (::inet_ntop(AF_INET, &in->sin_addr, text, sizeof text) != nullptr) {
            n.vecIpv4.emplace_back(text);
        }
    }
    return n;
}

}  // namespace

int ListNetInterfaces(std::vector<NetInterface>* out) {
    out->clear();
    const ULONG flags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
    // The list can grow between the size query and the read: ask again a few times.
    ULONG size = 16 * 1024;
    std::vector<unsigned char> buffer;
    ULONG rc = ERROR_BUFFER_OVERFLOW;
    for (int attempt = 0; attempt < 4 && rc == ERROR_BUFFER_OVERFLOW; ++attempt) {
        buffer.assign(size, 0);
        rc = ::GetAdaptersAddresses(AF_INET, flags, nullptr,
                                    reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
    }
    if (rc == ERROR_NO_DATA) {
        return 0;
    }
    if (rc != NO_ERROR) {
        return static_cast<int>(rc);
    }
    for (auto* a = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()); a; a = a->Next) {
        out->push_back(FromAdapter(*a));
    }
    std::stable_sort(out->begin(), out->end(), [](const NetInterface& x, const NetInterface& y) {
        return x.iIndex < y.iIndex;
    });
    return 0;
}

}  // namespace orvane::platform
