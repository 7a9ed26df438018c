#include "protocol/ip_allocator.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/udp_socket.h"
#include "protocol/ping_api.h"
#include "support/log.h"

namespace orvane {

namespace {

constexpr int kFirstHost = 10;
constexpr int kLastHost = 250;
constexpr int kBatches = 3;
constexpr int kBatchSize = 3;

// The host number after `n` on the walk.
int NextHost(int n) {
    return n >= kLastHost ? kFirstHost : n + 1;
}

// Text up to and including the last "." of `ip`; empty when there is none.
std::string PrefixOf(const char* ip) {
    const char* dot = std::strrchr(ip, '.');
    return dot ? std::string(ip, static_cast<size_t>(dot - ip) + 1) : std::string();
}

int LastNumberOf(const char* ip) {
    const char* dot = std::strrchr(ip, '.');
    return std::atoi(dot ? dot + 1 : ip);
}

void WriteHost(char* out, const std::string& prefix, int n) {
    std::snprintf(out, kAllocIpSize, "%s%d", prefix.c_str(), n);
}

}  // namespace

std::string MakeAllocationCursor(const std::string& localIp) {
    std::string prefix = PrefixOf(localIp.c_str());
    return prefix.empty() ? prefix : (prefix + "10").substr(0, kAllocIpSize - 1);
}

IpAllocator::IpAllocator(IpCheck ipCheck, Prober prober)
    : m_ipCheck(std::move(ipCheck)), m_prober(prober ? std::move(prober) : Prober(PingApi)) {}

void IpAllocator::SetNextIP(const std::string& cursor) {
    std::lock_guard<std::mutex> lock(m_csAllocIp);
    std::memset(m_szNextIP, 0, sizeof m_szNextIP);
    std::memcpy(m_szNextIP, cursor.data(), std::min(cursor.size(), sizeof m_szNextIP - 1));
}

std::string IpAllocator::NextIP() const {
    std::lock_guard<std::mutex> lock(m_csAllocIp);
    return m_szNextIP;
}

int IpAllocator::DistributeThreeNotUseIPArr(char (*szAllocIpArr)[kAllocIpSize]) {
    if (!szAllocIpArr) {
        WriteLog(kLogMajor, "DistributeThreeNotUseIPArr szAllocIpArr == NULL");
        return -1;
    }
    std::memset(szAllocIpArr, 0, kBatchSize * kAllocIpSize);
    std::lock_guard<std::mutex> lock(m_csAllocIp);
    const std::string prefix = PrefixOf(m_szNextIP);
    int n = LastNumberOf(m_szNextIP);
    for (int i = 0; i < kBatchSize; ++i) {
        WriteHost(szAllocIpArr[i], prefix, n);
        n = NextHost(n);
    }
    WriteHost(m_szNextIP, prefix, n);
    return 0;
}

int IpAllocator::GetNotUseIp(char* szNewIp, const char* szLocalIP, int sequence) {
    if (!szNewIp || !szLocalIP) {
        return -1;
    }
    std::memset(szNewIp, 0, kAllocIpSize);
    if (NextIP().empty()) {
        WriteLog(kLogMajor, "*%d* GetNotUseIp no allocation cursor, return -1", sequence);
        return -1;
    }
    return m_ipCheck && m_ipCheck() ? GetNotUseIpProbed(szNewIp, sequence)
                                    : GetNotUseIpUnprobed(szNewIp, szLocalIP);
}

int IpAllocator::GetNotUseIpUnprobed(char* szNewIp, const char* szLocalIP) {
    const int own = LastNumberOf(szLocalIP);
    std::lock_guard<std::mutex> lock(m_csAllocIp);
    const std::string prefix = PrefixOf(m_szNextIP);
    int n = LastNumberOf(m_szNextIP);
    if (n == own) {
        ++n;
    }
    if (n >= kLastHost) {
        n = kFirstHost;
    }
    // A wrap can land on our own number too (serving from host 10); never hand out the
    // server's address.
    if (n == own) {
        ++n;
    }
    WriteHost(szNewIp, prefix, n);
    WriteHost(m_szNextIP, prefix, n + 1);
    return 0;
}

int IpAllocator::GetNotUseIpProbed(char* szNewIp, int sequence) {
    for (int batch = 0; batch < kBatches; ++batch) {
        char szAllocIpArr[kBatchSize][kAllocIpSize];
        DistributeThreeNotUseIPArr(szAllocIpArr);
        WriteLog(kLogInfo, "*%d* Distribute Three IP:  \nIP1:%s \nIP2:%s \nIP3:%s\n", sequence,
                 szAllocIpArr[0], szAllocIpArr[1], szAllocIpArr[2]);
        for (const char* candidate : szAllocIpArr) {
            platform::Endpoint ep;
            int rc = platform::Endpoint::Parse(candidate, 0, &ep) && ep.addr != 0
                         ? m_prober(ep.addr)
                         : kPingSocketFailed;
            if (IsFreeResult(rc)) {
                std::memcpy(szNewIp, candidate, kAllocIpSize);
                return 0;
            }
            WriteLog(kLogInfo, "*%d* PingApi IP=%s Error, Rc=%d", sequence, candidate, rc);
        }
    }
    return -1;
}

}  // namespace orvane
