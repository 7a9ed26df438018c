#pragma once

#include <cstddef>
#include <cstdint>

namespace orvane {

// The presence test of an address: one ICMP echo request, then up to 100 ms for an answer.
constexpr size_t kEchoRequestSize = 45;
constexpr int kPingWindowMs = 100;

// PingApi results. A positive result is the round-trip time of an echo reply (occupied).
constexpr int kPingNoAnswer = -997;      // free
constexpr int kPingUnreachable = -995;   // free: destination unreachable came back
constexpr int kPingTimeExceeded = -994;  // free: time exceeded came back
constexpr int kPingSocketDenied = 500;   // no rights for a raw socket
constexpr int kPingSocketFailed = 501;
constexpr int kPingSendDenied = 504;  // the send was refused for lack of rights (or a firewall)
constexpr int kPingSendFailed = 505;
constexpr int kPingWaitFailed = 506;
constexpr int kPingReceiveFailed = 507;

// Whether a PingApi result lets the address be handed out.
inline bool IsFreeResult(int result) {
    return result == kPingNoAnswer || result == kPingUnreachable || result == kPingTimeExceeded;
}

// RFC 1071 Internet checksum over `len` bytes, as the value to store big-endian; an odd
// last byte counts as a word with a zero second byte.
uint16_t IcmpChecksum(const uint8_t* data, size_t len);

// The 45-byte echo request: type 8, code 0, checksum, identifier bytes 0xD8 0x00, the
// sequence number and the tick count least significant byte first, then 0x20..0x3F.
void BuildEchoRequest(uint16_t sequence, uint32_t tickCount, uint8_t out[kEchoRequestSize]);

// What a received datagram (IPv4 header first) means to the probe of `probedAddr` (host
// byte order). Only answers that concern that address count, so probes running side by side
// never decide each other: an echo reply must come from it, and an unreachable or
// time-exceeded message must quote a datagram that was sent to it.
enum class IcmpAnswer { kIgnore, kEchoReply, kUnreachable, kTimeExceeded };
IcmpAnswer ClassifyIcmpAnswer(const uint8_t* data, size_t len, uint32_t probedAddr);

// Sends one echo request to `addr` (host byte order) on a raw ICMP socket and waits up to
// 100 ms for the answer; one of the results above. The socket is closed before returning.
// Safe to call from several threads at once.
int PingApi(uint32_t addr);

}  // namespace orvane
