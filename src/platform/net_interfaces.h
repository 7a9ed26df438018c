#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orvane::platform {

// One network interface as the system reports it, without any of our selection rules.
struct NetInterface {
    std::string szName;
    unsigned iIndex = 0;
    // A physical device sits behind the interface (it has /sys/class/net/NAME/device);
    // bridges, veth, tun and other software interfaces have none.
    bool bHasDevice = false;
    bool bUp = false;  // administratively up and carrier present (IFF_UP and IFF_RUNNING)
    bool bLoopback = false;
    bool bEthernet = false;                // hardware type is Ethernet
    std::vector<uint8_t> vecHardwareAddr;  // as long as the system reports it, may be empty
    std::vector<std::string> vecIpv4;      // dotted quads, in the system's order
};

// Fills `out` with the interfaces in index order. 0 on success, else the errno of the failed
// query (`out` is then empty).
int ListNetInterfaces(std::vector<NetInterface>* out);

}  // namespace orvane::platform
