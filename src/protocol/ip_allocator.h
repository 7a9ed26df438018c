#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

namespace orvane {

constexpr size_t kAllocIpSize = 64;  // one address text

// The allocation cursor of a local address: its text up to and including the last ".",
// then "10" (host number 10 of its /24). Empty when the text has no ".".
std::string MakeAllocationCursor(const std::string& localIp);

// Hands out device addresses of the serving /24 by walking a cursor through host numbers 10
// to 250. Nothing is remembered about handed-out addresses except the cursor, so after a wrap
// an address can come again; only the presence test can notice it is still in use.
class IpAllocator {
  public:
    // Whether the presence test is on; read afresh for every allocation.
    using IpCheck = std::function<bool()>;
    // Probes an address (host byte order); a PingApi result.
    using Prober = std::function<int(uint32_t addr)>;

    explicit IpAllocator(IpCheck ipCheck, Prober prober = nullptr);

    // Sets the cursor (Start does it; Stop leaves it alone).
    void SetNextIP(const std::string& cursor);
    std::string NextIP() const;

    // Writes the next three host numbers into the three slots and moves the cursor past
    // them, wrapping 250 -> 10. 0; -1 without an array.
    int DistributeThreeNotUseIPArr(char (*szAllocIpArr)[kAllocIpSize]);

    // Writes a device address into `szNewIp` (kAllocIpSize bytes). With the presence test
    // off, the next host number that is not the local address's own, never 250 or above.
    // With it on, up to nine candidates are probed in batches of three and the first that
    // does not answer is taken; the cursor always moves past the whole batch. 0 with the
    // address set; -1 when an argument is missing, no cursor is set, or all nine candidates
    // were in use or could not be probed (`szNewIp` is then empty).
    int GetNotUseIp(char* szNewIp, const char* szLocalIP, int sequence);

  private:
    int GetNotUseIpUnprobed(char* szNewIp, const char* szLocalIP);
    int GetNotUseIpProbed(char* szNewIp, int sequence);

    IpCheck m_ipCheck;
    Prober m_prober;
    mutable std::mutex m_csAllocIp;  // every step of the cursor is one locked step
    char m_szNextIP[kAllocIpSize] = {};
};

}  // namespace orvane
