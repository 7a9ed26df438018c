#include "protocol/ping_api.h"

#include <gtest/gtest.h>

#include <vector>

namespace orvane {
namespace {

constexpr uint32_t kProbed = 0x0AD60002;  // 10.214.0.2
constexpr uint32_t kOther = 0x0AD60003;   // 10.214.0.3

void PutBe32(std::vector<uint8_t>& d, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        d[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
    }
}

// An IPv4 datagram carrying an ICMP message: header of `ihl` bytes from `source`, then `icmp`.
std::vector<uint8_t> Datagram(uint32_t source, std::vector<uint8_t> icmp, size_t ihl = 20) {
    std::vector<uint8_t> d(ihl, 0);
    d[0] = static_cast<uint8_t>(0x40 | (ihl / 4));  // version 4, header length
    d[9] = 1;                                       // protocol ICMP
    PutBe32(d, 12, source);
    PutBe32(d, 16, 0x0AD60001);  // to us
    d.insert(d.end(), icmp.begin(), icmp.end());
    return d;
}

std::vector<uint8_t> EchoReply(uint8_t id0 = 0xD8, uint8_t id1 = 0x00) {
    uint8_t req[kEchoRequestSize];
    BuildEchoRequest(7, 1000, req);
    std::vector<uint8_t> icmp(req, req + sizeof req);
    icmp[0] = 0;  // echo reply
    icmp[4] = id0;
    icmp[5] = id1;
    return icmp;
}

// An error message of `type` quoting a datagram we sent to `quotedDest`.
std::vector<uint8_t> ErrorQuoting(uint8_t type, uint32_t quotedDest, size_t quotedBytes = 28) {
    std::vector<uint8_t> icmp = {type, 1, 0, 0, 0, 0, 0, 0};
    std::vector<uint8_t> quoted(28, 0);
    quoted[0] = 0x45;
    quoted[9] = 1;
    PutBe32(quoted, 12, 0x0AD60001);
    PutBe32(quoted, 16, quotedDest);
    quoted[20] = 8;  // our echo request
    quoted.resize(quotedBytes);
    icmp.insert(icmp.end(), quoted.begin(), quoted.end());
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
    std::vector<uint8_t> shortEcho = Datagram(kProbed, EchoReply());
    shortEcho.resize(28);
    std::vector<uint8_t> notV4 = Datagram(kProbed, EchoReply());
    notV4[0] = 0x65;
    std::vector<uint8_t> withOptions = Datagram(kProbed, EchoReply(), 24);
    std::vector<uint8_t> ownRequest = Datagram(kProbed, EchoReply());
    ownRequest[20] = 8;
    const Case cases[] = {
        {"echo reply from the probed host", Datagram(kProbed, EchoReply()), IcmpAnswer::kEchoReply},
        {"echo reply from another host", Datagram(kOther, EchoReply()), IcmpAnswer::kIgnore},
        {"echo reply with another identifier", Datagram(kProbed, EchoReply(0x00, 0xD8)),
         IcmpAnswer::kIgnore},
        {"unreachable about the probed host", Datagram(kOther, ErrorQuoting(3, kProbed)),
         IcmpAnswer::kUnreachable},
        {"unreachable about another host", Datagram(kOther, ErrorQuoting(3, kOther)),
         IcmpAnswer::kIgnore},
        {"time exceeded about the probed host", Datagram(kOther, ErrorQuoting(11, kProbed)),
         IcmpAnswer::kTimeExceeded},
        {"time exceeded about another host", Datagram(kOther, ErrorQuoting(11, kOther)),
         IcmpAnswer::kIgnore},
        {"error quoting too little to tell", Datagram(kOther, ErrorQuoting(3, kProbed, 19)),
         IcmpAnswer::kIgnore},
        {"our own request looped back", ownRequest, IcmpAnswer::kIgnore},
        {"redirect", Datagram(kProbed, ErrorQuoting(5, kProbed)), IcmpAnswer::kIgnore},
        {"28 bytes", shortEcho, IcmpAnswer::kIgnore},
        {"not IPv4", notV4, IcmpAnswer::kIgnore},
        {"header with options", withOptions, IcmpAnswer::kEchoReply},
        {"empty", {}, IcmpAnswer::kIgnore},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ClassifyIcmpAnswer(c.datagram.data(), c.datagram.size(), kProbed), c.expected)
            << c.what;
    }
}

}  // namespace
}  // namespace orvane
