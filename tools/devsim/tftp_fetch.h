#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/udp_socket.h"

namespace orvane::devsim {

// The small TFTP read client of a device's boot loader (RFC 1350 with the RFC 2347 option
// extension, and RFC 7440 windows when asked): one request, one ACK per window (of one block
// unless asked), a fixed resend clock, a fixed number of tries. It
// plays the device, so it is written from the device's side and shares nothing with the
// server it fetches from.

// RFC 1350 opcodes, RFC 2347 OACK.
enum TftpOpcode : uint16_t {
    kTftpRrq = 1,
    kTftpWrq = 2,
    kTftpData = 3,
    kTftpAck = 4,
    kTftpError = 5,
    kTftpOack = 6,
};

constexpr unsigned kTftpDefaultBlock = 512;  // RFC 1350
constexpr unsigned kTftpMinBlksize = 8;      // RFC 2348: 8..65464
constexpr unsigned kTftpMaxBlksize = 65464;

struct TftpFetchOptions {
    unsigned uBlksize = 1468;         // blksize asked for; 0 asks no option (512-byte blocks)
    bool bTsize = false;              // asks tsize 0 and holds the server to the size it names
    unsigned uAskTimeout = 0;         // timeout option asked, seconds (1..255); 0 asks none
    int iTimeoutMs = 1000;            // silence after which the last packet is sent again
    int iTries = 5;                   // sends of one packet before giving up
    int iAckDelayMs = 0;              // each ACK of new DATA leaves after this pause, as a
                                      // boot loader that writes flash between blocks
    unsigned uWindowsize = 0;         // windowsize asked (1..65535, RFC 7440); 0 asks none
    uint64_t uMaxBytes = 0x7FFFFFFF;  // a longer file is abandoned
    uint32_t uSourceAddr = 0;         // local IPv4 address to fetch from (host order); 0 any
};

// What an OACK settled.
struct TftpNegotiated {
    unsigned uBlksize = kTftpDefaultBlock;
    bool bTsize = false;
    uint64_t uTsize = 0;
    unsigned uWindowsize = 1;  // blocks between two ACKs
};

// The RRQ for `name` in octet mode with the options asked.
std::string BuildReadRequest(const std::string& name, const TftpFetchOptions& options);

// Checks the option list of an OACK (the bytes after its opcode) against what was asked:
// an option not asked, a blksize outside 8..asked, a windowsize outside 1..asked, a tsize that is
// not a number, a timeout other than the one asked (RFC 2349: the server may only take it or leave
// it) or an unterminated list are refused. Empty when acceptable (`out` filled), else the reason.
std::string CheckOack(const char* options, size_t len, const TftpFetchOptions& asked,
                      TftpNegotiated* out);

struct TftpFetchResult {
    bool bOk = false;
    std::string szError;  // why the fetch failed
    uint64_t uBytes = 0;
    unsigned uBlksize = kTftpDefaultBlock;
    unsigned uResends = 0;  // packets sent again after a silence
    unsigned uDupAcks = 0;  // ACKs repeated for a DATA block received twice
};

// Takes each block of the file in order (its offset and bytes). Returning false abandons the
// transfer: the server gets ERROR 0 and `*reason` becomes the fetch's error.
using TftpSink =
    std::function<bool(uint64_t offset, const char* data, size_t len, std::string* reason)>;

// Fetches `name` from `server` (normally port 69) on a socket of its own. Every wait is bounded
// by the resend clock and the tries, and the size by uMaxBytes, so it always returns.
TftpFetchResult TftpFetch(const platform::Endpoint& server, const std::string& name,
                          const TftpFetchOptions& options, const TftpSink& sink);

}  // namespace orvane::devsim
