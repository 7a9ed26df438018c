#include "support/adapters.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

namespace orvane {
namespace {

using platform::NetInterface;

const std::vector<uint8_t> kMac = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};

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

NetInterface Loopback() {
    NetInterface a = Adapter("lo", {"127.0.0.1"}, true, true, {0, 0, 0, 0, 0, 0});
    a.bLoopback = true;
    a.bEthernet = false;
    return a;
}

AdapterLister Fixed(std::vector<NetInterface> adapters) {
    return [adapters](std::vector<NetInterface>* out) {
        *out = adapters;
        return 0;
    };
}

AdapterLister Failing(int code) {
    return [code](std::vector<NetInterface>* out) {
        out->clear();
        return code;
    };
}

std::vector<std::string> ListOf(const AdapterLister& lister) {
    char list[kMaxLocalIps][kIpTextSize] = {};
    int n = GetLocalIpList(list, lister);
    std::vector<std::string> out;
    for (int i = 0; i < n; ++i) {
        out.emplace_back(list[i]);
    }
    // Slots past the count stay empty: the list ends at the first empty slot.
    if (n < kMaxLocalIps) {
        EXPECT_EQ(list[n][0], '\0');
    }
    return out;
}

// Catches the address box offering virtual, loopback or unusable addresses, reordering
// them, overflowing its slots, or a failed interface query read as addresses.
TEST(GetLocalIpListTest, OffersOnlyUsableAddressesInOrder) {
    std::vector<NetInterface> twenty;  // five adapters of four addresses
    std::vector<std::string> all;
    for (int a = 0; a < 5; ++a) {
        std::vector<std::string> ips;
        for (int i = 1; i <= 4; ++i) {
            ips.push_back("10.0." + std::to_string(a) + "." + std::to_string(i));
        }
        all.insert(all.end(), ips.begin(), ips.end());
        twenty.push_back(Adapter("eth" + std::to_string(a), ips));
    }
    const std::vector<std::string> sixteen(all.begin(), all.begin() + kMaxLocalIps);
    struct Case {
        const char* what;
        std::vector<NetInterface> adapters;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"Virtual, VPN and plain adapters",
         {Adapter("Virtual0", {"10.1.0.1"}), Adapter("corpVPN", {"10.2.0.1"}),
          Adapter("eth0", {"10.3.0.1"})},
         {"10.3.0.1"}},
        {"VM inside a longer word, vm in lower case",
         {Adapter("xVMnet8", {"10.4.0.1"}), Adapter("vmxnet0", {"10.5.0.1"})},
         {"10.5.0.1"}},
        {"no physical device: bridge, veth, tun are virtual",
         {Adapter("br0", {"10.6.0.1"}, false), Adapter("veth1", {"10.7.0.1"}, false),
          Adapter("eno1", {"10.8.0.1"})},
         {"10.8.0.1"}},
        {"disconnected adapter and empty address",
         {Adapter("eth0", {"0.0.0.0"}, true, false), Adapter("eth1", {"", "172.16.0.2"})},
         {"172.16.0.2"}},
        {"loopback never, a down adapter still listed",
         {Loopback(), Adapter("eth0", {"10.9.0.1"}, true, false)},
         {"10.9.0.1"}},
        {"over-long address",
         {Adapter("eth0", {std::string(300, '1')})},
         {std::string(kIpTextSize - 1, '1')}},
        {"twenty over five adapters", twenty, sixteen},
        {"seventeen on one adapter", {Adapter("eth0", {all.begin(), all.begin() + 17})}, sixteen},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ListOf(Fixed(c.adapters)), c.expected) << c.what;
    }
    EXPECT_TRUE(ListOf(Failing(ENOMEM)).empty());
}

// Catches the serving MAC being taken from the wrong adapter (a down one, one merely sharing a
// prefix, not the first match), written in the wrong text form, or invented when none matched.
TEST(GetMacAddress2Test, FindsTheUpAdapterCarryingTheAddress) {
    struct Case {
        const char* what;
        std::vector<NetInterface> adapters;
        const char* ip;
        int rc;
        std::string mac;
    };
    const std::vector<uint8_t> other = {0xAA, 0xBB, 0xCC, 0x01, 0x02, 0x03};
    const Case cases[] = {
        {"second address of an adapter",
         {Adapter("eth0", {"10.0.0.2", "10.0.1.2"}, true, true, other)},
         "10.0.1.2",
         0,
         "AA-BB-CC-01-02-03"},
        {"down one skipped, up one found",
         {Adapter("eth0", {"10.0.0.2"}, true, false),
          Adapter("eth1", {"10.0.0.2"}, true, true, other)},
         "10.0.0.2",
         0,
         "AA-BB-CC-01-02-03"},
        {"first up match wins",
         {Adapter("eth0", {"10.0.0.2"}), Adapter("eth1", {"10.0.0.2"}, true, true, other)},
         "10.0.0.2",
         0,
         "00-1A-2B-3C-4D-5E"},
        {"exact text only", {Adapter("eth0", {"10.0.0.20"})}, "10.0.0.2", 0, ""},
        {"no physical address",
         {Adapter("tun0", {"10.0.0.2"}, false, true, {})},
         "10.0.0.2",
         0,
         ""},
    };
    for (const Case& c : cases) {
        char mac[kMacTextSize] = {};
        EXPECT_EQ(GetMacAddress2(c.ip, mac, Fixed(c.adapters)), c.rc) << c.what;
        EXPECT_EQ(std::string(mac), c.mac) << c.what;
    }

    char mac[kMacTextSize] = {};
    EXPECT_EQ(GetMacAddress2("10.0.0.2", mac, Failing(ENOBUFS)), ENOBUFS);
    EXPECT_EQ(mac[0], '\0');
}

// Catches the Start lookup trying the fallback when the address simply has no adapter (its MAC
// would belong to another interface), skipping the fallback when the query failed, or sending
// "-" instead of ":" to devices.
TEST(ReadServingMacTextTest, FallbackOnlyWhenTheQueryFails) {
    const NetInterface eth = Adapter("eth0", {"10.0.0.2"});
    const NetInterface spare =
        Adapter("eth1", {"10.9.9.9"}, true, true, {0xAA, 0xBB, 0xCC, 0x01, 0x02, 0x03});
    struct Case {
        const char* what;
        int failFirstQueries;  // how many interface queries fail before they succeed
        std::string ip;
        std::string expected;
        int queries;
    };
    const Case cases[] = {
        {"address found", 0, "10.0.0.2", "00:1A:2B:3C:4D:5E", 1},
        {"address on no adapter: no fallback", 0, "10.0.0.3", "", 1},
        {"query failed: fallback", 1, "10.0.0.3", "00:1A:2B:3C:4D:5E", 2},
        {"both failed", 2, "10.0.0.2", "", 2},
    };
    for (const Case& c : cases) {
        int calls = 0;
        AdapterLister lister = [&](std::vector<NetInterface>* out) {
            out->clear();
            if (++calls <= c.failFirstQueries) {
                return EIO;
            }
            *out = {eth, spare};
            return 0;
        };
        EXPECT_EQ(ReadServingMacText(c.ip, lister), c.expected) << c.what;
        EXPECT_EQ(calls, c.queries) << c.what;
    }
}

}  // namespace
}  // namespace orvane
