// Measures the presence test and address allocation on real sockets: the cost of one probe of
// a present and of an absent address, of allocations with detection (first candidate free, or
// eight busy before a free one), and of allocations without detection. Runs as root in a
// private network namespace of its own, with a peer namespace behind a veth pair that it
// removes before it exits.
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/net_interfaces.h"
#include "platform/udp_socket.h"
#include "protocol/ip_allocator.h"
#include "protocol/ping_api.h"

using namespace orvane;

namespace {

constexpr int kRounds = 20;

bool Sh(const std::string& cmd) {
    return std::system((cmd + " >/dev/null 2>&1").c_str()) == 0;
}

// The peer host: 10.218.0.2 and .10 to .17 answer, every other host number is absent.
class Peer {
  public:
    Peer() : m_szName("orvane-bench-" + std::to_string(getpid())) {
        m_bOk = Sh("ip link set lo up") && Sh("ip netns add " + m_szName);
        m_bCreated = m_bOk;
        m_bOk = m_bOk && Sh("ip link add obl type veth peer name obp netns " + m_szName) &&
                Sh("ip addr add 10.218.0.1/24 dev obl") && Sh("ip link set obl up") &&
                Sh("ip -n " + m_szName + " addr add 10.218.0.2/24 dev obp") &&
                Sh("ip -n " + m_szName + " link set obp up");
        for (int n = 10; m_bOk && n < 18; ++n) {
            m_bOk =
                Sh("ip -n " + m_szName + " addr add 10.218.0." + std::to_string(n) + "/24 dev obp");
        }
        m_bOk = m_bOk && WaitRunning();
    }
    ~Peer() {
        if (m_bCreated) {
            Sh("ip netns delete " + m_szName);
        }
    }
    bool Ok() const { return m_bOk; }

  private:
    static bool WaitRunning() {
        for (int i = 0; i < 300; ++i) {
            std::vector<platform::NetInterface> all;
            platform::ListNetInterfaces(&all);
            for (const auto& nif : all) {
                if (nif.szName == "obl" && nif.bUp) {
                    return true;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
    std::string m_szName;
    bool m_bOk = false;
    bool m_bCreated = false;
};

uint32_t Addr(const char* text) {
    platform::Endpoint ep;
    platform::Endpoint::Parse(text, 0, &ep);
    return ep.addr;
}

struct Stats {
    double minMs, medianMs, maxMs;
};

template <typename F>
Stats Measure(int rounds, F&& body) {
    std::vector<double> ms;
    for (int i = 0; i < rounds; ++i) {
        auto t0 = std::chrono::steady_clock::now();
        body();
        auto t1 = std::chrono::steady_clock::now();
        ms.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
    }
    std::sort(ms.begin(), ms.end());
    return Stats{ms.front(), ms[ms.size() / 2], ms.back()};
}

void Print(const char* what, const Stats& s, const std::string& note) {
    std::printf("%-44s min %7.2f ms  median %7.2f ms  max %7.2f ms  %s\n", what, s.minMs,
                s.medianMs, s.maxMs, note.c_str());
}

}  // namespace

int main() {
    if (unshare(CLONE_NEWNET) != 0) {
        std::printf("probe_bench: needs root (a private network namespace); skipped\n");
        return 0;
    }
    Peer peer;
    if (!peer.Ok()) {
        std::printf("probe_bench: could not set up the peer namespace; skipped\n");
        return 0;
    }
    PingApi(Addr("10.218.0.2"));  // resolve the neighbour once

    int result = 0;
    Stats s = Measure(kRounds, [&] { result = PingApi(Addr("10.218.0.2")); });
    Print("probe, present address (veth peer)", s, "last result " + std::to_string(result));
    s = Measure(kRounds, [&] { result = PingApi(Addr("10.218.0.99")); });
    Print("probe, absent address", s, "last result " + std::to_string(result));

    IpAllocator probed([] { return true; });
    char ip[kAllocIpSize] = {};
    s = Measure(kRounds, [&] {
        probed.SetNextIP("10.218.0.20");
        probed.GetNotUseIp(ip, "10.218.0.1", 1);
    });
    Print("allocation with detection, first free", s, std::string("got ") + ip);
    s = Measure(kRounds, [&] {
        probed.SetNextIP("10.218.0.10");
        probed.GetNotUseIp(ip, "10.218.0.1", 1);
    });
    Print("allocation with detection, 8 busy then free", s, std::string("got ") + ip);

    IpAllocator plain([] { return false; });
    plain.SetNextIP("10.218.0.10");
    const int kAllocations = 1000000;
    s = Measure(1, [&] {
        for (int i = 0; i < kAllocations; ++i) {
            plain.GetNotUseIp(ip, "10.218.0.1", i);
        }
    });
    std::printf("%-44s %7.1f ns per allocation\n", "allocation without detection",
                s.medianMs * 1e6 / kAllocations);
    return 0;
}
