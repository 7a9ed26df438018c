#include "protocol/ping_api.h"

#include <gtest/gtest.h>

#include <vector>

namespace orvane {
namespace {

constexpr uint32_t kUs = 0x0AD60001;      // 10.214.0.1
constexpr uint32_t kProbed = 0x0AD60002;  // 10.214.0.2
constexpr uint32_t kOther = 0x0AD60003;   // 10.214.0.3

// An IPv4 datagram of ICMP from `source` to `dest`: a header of `ihl` bytes, then `icmp`.
std::vector<uint8_t> Ip(uint32_t source, uint32_t dest, std::vector<uint8_t> icmp,
                        size_t ihl = 20) {
    std::vector<uint8_t> d(ihl, 0);
    d[0] = static_cast<uint8_t>(0x40 | (ihl / 4));  // version 4, header length
    d[9] = 1;                                       // protocol ICMP
    for (int i = 0; i < 4; ++i) {
        d[12 + i] = static_cast<uint8_t>(source >> (24 - 8 * i));
        d[16 + i] = static_cast<uint8_t>(dest >> (24 - 8 * i));
    }
    d.insert(d.end(), icmp.begin(), icmp.end());
    return d;
}

// Our echo request as a message of `type` (0: the echo reply) with identifier `id0 id1`.
std::vector<uint8_t> Echo(uint8_t type = 0, uint8_t id0 = 0xD8, uint8_t id1 = 0x00) {
    uint8_t req[kEchoRequestSize];
    BuildEchoRequest(7, 1000, req);
    std::vector<uint8_t> icmp(req, req + sizeof req);
    icmp[0] = type;
    icmp[4] = id0;
    icmp[5] = id1;
    return icmp;
}

// An error message of `type` quoting the first `quoted` bytes of our request to `dest`.
std::vector<uint8_t> Error(uint8_t type, uint32_t dest, size_t quoted = 28) {
    std::vector<uint8_t> icmp = {type, 1, 0, 0, 0, 0, 0, 0};
    const std::vector<uint8_t> request = Ip(kUs, dest, Echo(8));
    icmp.insert(icmp.end(), request.begin(), request.begin() + quoted);
    return icmp;
}

// Catches one probe being decided by answers meant for another (an echo reply from a
// different host, an error about a datagram sent elsewhere), our own looped-back request
// taken as an answer, and reads past short or odd datagrams.
TEST(PingPacketTest, ClassifiesOnlyAnswersAboutTheProbedAddress) {
    struct Case {
        const char* what;
        std::vector<uint8_t> datagram;
        IcmpAnswer expected;
    };
    std::vector<uint8_t> shortEcho = Ip(kProbed, kUs, Echo());
    shortEcho.resize(28);
    std::vector<uint8_t> notV4 = Ip(kProbed, kUs, Echo());
    notV4[0] = 0x65;
    const Case cases[] = {
        {"echo reply from the probed host", Ip(kProbed, kUs, Echo()), IcmpAnswer::kEchoReply},
        {"echo reply from another host", Ip(kOther, kUs, Echo()), IcmpAnswer::kIgnore},
        {"echo reply with another identifier", Ip(kProbed, kUs, Echo(0, 0x00, 0xD8)),
         IcmpAnswer::kIgnore},
        {"unreachable about the probed host", Ip(kOther, kUs, Error(3, kProbed)),
         IcmpAnswer::kUnreachable},
        {"unreachable about another host", Ip(kOther, kUs, Error(3, kOther)), IcmpAnswer::kIgnore},
        {"time exceeded about the probed host", Ip(kOther, kUs, Error(11, kProbed)),
         IcmpAnswer::kTimeExceeded},
        {"time exceeded about another host", Ip(kOther, kUs, Error(11, kOther)),
         IcmpAnswer::kIgnore},
        {"error quoting too little to tell", Ip(kOther, kUs, Error(3, kProbed, 19)),
         IcmpAnswer::kIgnore},
        {"our own request looped back", Ip(kProbed, kUs, Echo(8)), IcmpAnswer::kIgnore},
        {"redirect", Ip(kProbed, kUs, Error(5, kProbed)), IcmpAnswer::kIgnore},
        {"28 bytes", shortEcho, IcmpAnswer::kIgnore},
        {"not IPv4", notV4, IcmpAnswer::kIgnore},
        {"header with options", Ip(kProbed, kUs, Echo(), 24), IcmpAnswer::kEchoReply},
        {"empty", {}, IcmpAnswer::kIgnore},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ClassifyIcmpAnswer(c.datagram.data(), c.datagram.size(), kProbed), c.expected)
            << c.what;
    }
}

}  // namespace
}  // namespace orvane
