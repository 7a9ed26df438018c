#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "platform/net_interfaces.h"

namespace orvane {

constexpr int kMaxLocalIps = 16;
constexpr size_t kIpTextSize = 64;    // one slot of the local address list
constexpr size_t kMacTextSize = 256;  // the MAC text buffers

// Where the adapter rules get the machine's interfaces from: 0 and the list, or an error
// code. Tests pass fabricated lists.
using AdapterLister = std::function<int(std::vector<platform::NetInterface>*)>;

// The text the filter words are matched against: the interface name, followed by " Virtual"
// when no physical device sits behind it (so bridges, veth and tun are left out too).
std::string AdapterDescription(const platform::NetInterface& adapter);

// Fills the caller's zero-filled list with the machine's usable IPv4 addresses, in adapter
// order: loopback never, adapters whose description contains "Virtual", "VPN" or "VM"
// (case-sensitive) never, "0.0.0.0" never; at most 16. Returns how many were written; 0 also
// when the interfaces could not be read.
int GetLocalIpList(char list[kMaxLocalIps][kIpTextSize],
                   const AdapterLister& lister = platform::ListNetInterfaces);

// Writes into `mac` (kMacTextSize bytes, zeroed by the caller) the physical address of the
// adapter that is up and carries the IPv4 address text `ip`, as "00-1A-2B-3C-4D-5E". Returns 0
// whenever the interfaces could be read, also when none matched (`mac` then stays as it was);
// otherwise the error code of the failed query.
int GetMacAddress2(const char* ip, char* mac,
                   const AdapterLister& lister = platform::ListNetInterfaces);

// The fallback: writes the address of the first interface (index order) with a non-zero
// Ethernet hardware address, whatever IP was chosen. 0, or a non-zero code when there is none
// or the interfaces could not be read.
int GetMacAddress(char* mac, const AdapterLister& lister = platform::ListNetInterfaces);

// Start's MAC lookup: GetMacAddress2 for `ip`, and only when that fails, GetMacAddress. The
// MAC with ":" between the bytes ("00:1A:2B:3C:4D:5E"), or empty when neither way found one.
std::string ReadServingMacText(const std::string& ip,
                               const AdapterLister& lister = platform::ListNetInterfaces);

}  // namespace orvane
