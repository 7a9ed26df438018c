#include "protocol/ping_api.h"

#include <atomic>
#include <cstring>

#include "platform/clock.h"
#include "platform/icmp_socket.h"
#include "platform/udp_socket.h"
#include "support/log.h"

namespace orvane {

namespace {

constexpr uint8_t kTypeEchoReply = 0;
constexpr uint8_t kTypeUnreachable = 3;
constexpr uint8_t kTypeEcho = 8;
constexpr uint8_t kTypeTimeExceeded = 11;
constexpr uint8_t kIdentifier[2] = {0xD8, 0x00};  // 216, least significant byte first
constexpr size_t kReceiveSize = 321;
constexpr size_t kMinIpHeader = 20;

// Shared by every probe of the process; only its low 16 bits go on the wire.
std::atomic<uint32_t> g_iPingSequence{1};

uint32_t ReadBe32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

uint32_t ReadLe32(const uint8_t* p) {
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

// Length of the IPv4 header at `data`, 0 when it is not a plausible one.
size_t IpHeaderLength(const uint8_t* data, size_t len) {
    if (len < kMinIpHeader || (data[0] >> 4) != 4) {
        return 0;
    }
    size_t ihl = size_t{data[0] & 0x0Fu} * 4;
    return ihl >= kMinIpHeader && ihl <= len ? ihl : 0;
}

int Fail(const char* what, int err, int result, uint32_t addr) {
    WriteLog(kLogMajor, "PingApi %s failed for %s, errno=%d (%s), return %d", what,
             platform::Endpoint{addr, 0}.Address().c_str(), err,
             platform::SocketErrorText(err).c_str(), result);
    return result;
}

bool IsDenied(int err) {
    return platform::ClassifySocketError(err) == platform::SocketErrorKind::kAccessDenied;
}

}  // namespace

uint16_t IcmpChecksum(const uint8_t* data, size_t len) {
    uint32_t sum = 0;
    size_t i = 0;
    for (; i + 1 < len; i += 2) {
        sum += (uint32_t{data[i]} << 8) | data[i + 1];
    }
    if (i < len) {
        sum += uint32_t{data[i]} << 8;
    }
    while (sum >> 16) {
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    return static_cast<uint16_t>(~sum & 0xFFFF);
}

void BuildEchoRequest(uint16_t sequence, uint32_t tickCount, uint8_t out[kEchoRequestSize]) {
    std::memset(out, 0, kEchoRequestSize);
    out[0] = kTypeEcho;
    out[1] = 0;  // code
    out[4] = kIdentifier[0];
    out[5] = kIdentifier[1];
    out[6] = static_cast<uint8_t>(sequence & 0xFF);
    out[7] = static_cast<uint8_t>(sequence >> 8);
    out[8] = 0;
    for (int i = 0; i < 4; ++i) {
        out[9 + i] = static_cast<uint8_t>(tickCount >> (8 * i));
    }
    for (size_t i = 0; i < 32; ++i) {
        out[13 + i] = static_cast<uint8_t>(0x20 + i);
    }
    uint16_t sum = IcmpChecksum(out, kEchoRequestSize);
    out[2] = static_cast<uint8_t>(sum >> 8);
    out[3] = static_cast<uint8_t>(sum & 0xFF);
}

IcmpAnswer ClassifyIcmpAnswer(const uint8_t* data, size_t len, uint32_t probedAddr) {
    size_t ihl = IpHeaderLength(data, len);
    // Type, code, checksum, identifier, sequence and one byte: the least worth looking at.
    if (ihl == 0 || len < ihl + 9) {
        return IcmpAnswer::kIgnore;
    }
    const uint8_t* icmp = data + ihl;
    switch (icmp[0]) {
        case kTypeEchoReply:
            if (icmp[4] == kIdentifier[0] && icmp[5] == kIdentifier[1] &&
                ReadBe32(data + 12) == probedAddr) {
                return IcmpAnswer::kEchoReply;
            }
            return IcmpAnswer::kIgnore;
        case kTypeUnreachable:
        case kTypeTimeExceeded: {
            // RFC 792: the error quotes the offending datagram's IPv4 header after 8 bytes.
            const uint8_t* quoted = icmp + 8;
            size_t quotedLen = len - ihl - 8;
            if (quotedLen < kMinIpHeader || ReadBe32(quoted + 16) != probedAddr) {
                return IcmpAnswer::kIgnore;
            }
            return icmp[0] == kTypeUnreachable ? IcmpAnswer::kUnreachable
                                               : IcmpAnswer::kTimeExceeded;
        }
        default:
            return IcmpAnswer::kIgnore;
    }
}

int PingApi(uint32_t addr) {
    platform::IcmpSocket sock;
    if (!sock.Open()) {
        int err = sock.LastError();
        return Fail("raw socket", err, IsDenied(err) ? kPingSocketDenied : kPingSocketFailed, addr);
    }

    uint8_t request[kEchoRequestSize];
    const uint32_t sendTick = platform::GetTickCount();
    BuildEchoRequest(static_cast<uint16_t>(g_iPingSequence.fetch_add(1) & 0xFFFF), sendTick,
                     request);
    long sent = sock.SendTo(request, sizeof request, addr);
    if (sent < static_cast<long>(sizeof request)) {
        int err = sent < 0 ? sock.LastError() : 0;
        return Fail("send", err, IsDenied(err) ? kPingSendDenied : kPingSendFailed, addr);
    }

    const int64_t deadline = platform::MonotonicMs() + kPingWindowMs;
    uint8_t answer[kReceiveSize];
    for (int64_t now = platform::MonotonicMs(); now < deadline; now = platform::MonotonicMs()) {
        int ready = sock.WaitReadable(static_cast<int>(deadline - now));
        if (ready == 0) {
            return kPingNoAnswer;
        }
        if (ready < 0) {
            return Fail("wait", sock.LastError(), kPingWaitFailed, addr);
        }
        long n = sock.Receive(answer, sizeof answer);
        if (n < 0) {
            return Fail("receive", sock.LastError(), kPingReceiveFailed, addr);
        }
        const size_t len = static_cast<size_t>(n);
        switch (ClassifyIcmpAnswer(answer, len, addr)) {
            case IcmpAnswer::kUnreachable:
                return kPingUnreachable;
            case IcmpAnswer::kTimeExceeded:
                return kPingTimeExceeded;
            case IcmpAnswer::kIgnore:
                continue;
            case IcmpAnswer::kEchoReply:
                break;
        }
        if (platform::MonotonicMs() >= deadline) {
            return kPingNoAnswer;
        }
        // The echoed tick count (after type, code, checksum, identifier, sequence, one zero
        // byte); a reply cut short of it is timed from our own send.
        size_t ihl = IpHeaderLength(answer, len);
        uint32_t echoed = len >= ihl + 13 ? ReadLe32(answer + ihl + 9) : sendTick;
        auto rtt = static_cast<int32_t>(platform::GetTickCount() - echoed);
        return rtt > 0 ? rtt : 1;
    }
    return kPingNoAnswer;
}

}  // namespace orvane
