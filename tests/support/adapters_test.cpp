#include "support/adapters.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

namespace orvane {
namespace {

using platform::NetInterface;

const std::vector<uint8_t> kMac = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
const std::vector<uint8_t> kOther = {0xAA, 0xBB, 0xCC, 0x01, 0x02, 0x03};

NetInterface Adapter(const std::string& name, std::vector<std::string> ips, bool device = true,
                     bool up = true, std::vector<uint8_t> mac = kMac) {
    NetInterface a;
    a.szName = name;
    a.bHasDevice = device;
    a.bUp = up;
    a.bEthernet = true;
    a.vecHardwareAddr = std::move(mac);
    a.vecIpv4 = std::move(ips);
    return a;
}

// Lists `adapters`, or fails with `error` (clearing what it was given).
AdapterLister Fixed(std::vector<NetInterface> adapters, int error = 0) {
    return [adapters, error](std::vector<NetInterface>* out) {
        *out = error ? std::vector<NetInterface>() : adapters;
        return error;
    };
}

std::vector<std::string> ListOf(const AdapterLister& lister) {
    char list[kMaxLocalIps][kIpTextSize] = {};
    const int n = GetLocalIpList(list, lister);
    if (n < kMaxLocalIps) {
        EXPECT_EQ(list[n][0], '\0');  // the list ends at the first empty slot
    }
    return std::vector<std::string>(list, list + n);
}

// Catches the address box offering virtual, loopback or unusable addresses, reordering them,
// overflowing its slots, or a failed interface query read as addresses.
TEST(GetLocalIpListTest, OffersOnlyUsableAddressesInOrder) {
    std::vector<NetInterface> twenty;  // five adapters of four addresses
    std::vector<std::string> all;
    for (int i = 0; i < 20; ++i) {
        all.push_back("10.0." + std::to_string(i / 4) + "." + std::to_string(i % 4 + 1));
        if (i % 4 == 3) {
            twenty.push_back(Adapter("eth" + std::to_string(i / 4), {all.end() - 4, all.end()}));
        }
    }
    const std::vector<std::string> sixteen(all.begin(), all.begin() + kMaxLocalIps);
    NetInterface loopback = Adapter("lo", {"127.0.0.1"});
    loopback.bLoopback = true;
    const struct {
        const char* what;
        std::vector<NetInterface> adapters;
        std::vector<std::string> expected;
        int error = 0;
    } cases[] = {
        {"Virtual, VPN, VM inside a word (not vm), no physical device: virtual",
         {Adapter("Virtual0", {"10.1.0.1"}), Adapter("corpVPN", {"10.2.0.1"}),
          Adapter("xVMnet8", {"10.4.0.1"}), Adapter("vmxnet0", {"10.5.0.1"}),
          Adapter("br0", {"10.6.0.1"}, false), Adapter("eno1", {"10.8.0.1"})},
         {"10.5.0.1", "10.8.0.1"}},
        {"loopback, no or empty address never; a down adapter still listed",
         {loopback, Adapter("eth0", {"0.0.0.0"}, true, false),
          Adapter("eth1", {"", "172.16.0.2"}, true, false)},
         {"172.16.0.2"}},
        {"over-long address",
         {Adapter("eth0", {std::string(300, '1')})},
         {std::string(kIpTextSize - 1, '1')}},
        {"twenty over five adapters", twenty, sixteen},
        {"seventeen on one adapter", {Adapter("eth0", {all.begin(), all.begin() + 17})}, sixteen},
        {"query failed", twenty, {}, ENOMEM},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ListOf(Fixed(c.adapters, c.error)), c.expected) << c.what;
    }
}

// Catches the serving MAC taken from the wrong adapter (a down one, one merely sharing a prefix,
// not the first match) or invented, the fallback (the first usable adapter) tried when the
// address merely has no adapter or not tried when the query failed, and "-" sent for ":".
TEST(ReadServingMacTextTest, TheUpAdapterCarryingTheAddressElseTheFallback) {
    const NetInterface eth0 = Adapter("eth0", {"10.0.0.2"});
    const NetInterface other = Adapter("eth1", {"10.0.1.9", "10.0.0.2"}, true, true, kOther);
    const NetInterface tun = Adapter("tun0", {"10.0.0.2"}, false, true, {});
    const struct {
        const char* what;
        std::vector<NetInterface> adapters;
        int failing;  // how many interface queries fail before they succeed
        std::string expected;
        int queries;
    } cases[] = {
        {"second address of an adapter", {other}, 0, "AA:BB:CC:01:02:03", 1},
        {"down one skipped",
         {Adapter("eth0", {"10.0.0.2"}, true, false), other},
         0,
         "AA:BB:CC:01:02:03",
         1},
        {"first up match wins", {eth0, other}, 0, "00:1A:2B:3C:4D:5E", 1},
        {"exact text only, no fallback", {Adapter("eth0", {"10.0.0.20"})}, 0, "", 1},
        {"no physical address", {tun, eth0}, 0, "", 1},
        {"query failed: fallback",
         {tun, Adapter("eth0", {"10.9.9.9"}), other},
         1,
         "00:1A:2B:3C:4D:5E",
         2},
        {"query failed, nothing usable", {tun}, 1, "", 2},
        {"both failed", {eth0}, 2, "", 2},
    };
    for (const auto& c : cases) {
        int calls = 0;
        AdapterLister lister = [&](std::vector<NetInterface>* out) {
            *out = c.adapters;
            return ++calls <= c.failing ? EIO : 0;
        };
        EXPECT_EQ(ReadServingMacText("10.0.0.2", lister), c.expected) << c.what;
        EXPECT_EQ(calls, c.queries) << c.what;
    }
}

}  // namespace
}  // namespace orvane
