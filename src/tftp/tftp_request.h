#pragma once

// The TFTP wire format and the rules applied to a request's bytes, as plain functions over
// (pointer, length) so they are tested and fuzzed without a socket.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace orvane {

// RFC 1350 opcodes, RFC 2347 OACK.
constexpr uint16_t kTftpRrq = 1;
constexpr uint16_t kTftpWrq = 2;
constexpr uint16_t kTftpData = 3;
constexpr uint16_t kTftpAck = 4;
constexpr uint16_t kTftpError = 5;
constexpr uint16_t kTftpOack = 6;

constexpr size_t kTftpSegment = 512;           // RFC 1350 data block without options
constexpr size_t kTftpPacketSize = 516;        // request and control packets: 4 + 512
constexpr size_t kTftpRequestLimit = 509;      // request text read only up to here
constexpr size_t kTftpMaxPath = 260;           // names and full names must stay below
constexpr uint32_t kTftpMinBlockSize = 8;      // RFC 2348: 8..65464
constexpr uint32_t kTftpMaxBlockSize = 16384;  // our data buffer; larger requests get this
constexpr size_t kTftpDataBuffer = 4 + kTftpMaxBlockSize;
constexpr uint32_t kTftpMaxWindowSize = 65535;  // RFC 7440: windowsize 1..65535
constexpr uint32_t kTftpDefaultMaxWindow = 64;  // granted at most, unless configured

enum TftpMode { kTftpModeOctet = 0, kTftpModeNetascii = 1, kTftpModeMail = 2 };

// Error codes: RFC 1350 0..7, and 99 for a transfer the operator's Stop cancelled.
constexpr int kTftpErrUndefined = 0;
constexpr int kTftpErrNotFound = 1;
constexpr int kTftpErrAccess = 2;
constexpr int kTftpErrDiskFull = 3;
constexpr int kTftpErrIllegal = 4;
constexpr int kTftpErrCancelled = 99;

// The text sent with an error code ("Undefined error code" for codes without one).
const char* TftpErrorText(int code);

// Builds an ERROR packet (opcode, code, text, NUL) in buf; its length, 0 when cap is too small.
size_t BuildTftpError(uint8_t* buf, size_t cap, int code);
// The same with a text of the caller's.
size_t BuildTftpError(uint8_t* buf, size_t cap, int code, const char* text);

struct TftpOption {
    std::string name;
    std::string value;
};

// A request's fields. Text past byte 509 of the datagram is never looked at.
struct TftpRequestFields {
    int opcode = 0;
    std::string fileName;
    std::string mode;
    std::vector<TftpOption> options;  // in the client's order, names as the client wrote them
};

TftpRequestFields SplitTftpRequest(const uint8_t* data, size_t length);

// 0 octet/binary, 1 netascii/ascii, 2 mail (any letter case); -1 for any other text.
int TftpModeFromText(const std::string& mode);

// "\" becomes "/": clients written for other systems use it as the separator.
std::string NormaliseTftpName(std::string name);
// Whether two names (option names, paths) are the same but for ASCII case, as the file systems
// that serve them compare.
bool SameIgnoringCase(const std::string& a, const std::string& b);

// A normalised name that would leave or confuse the root: ".." anywhere, or two separators
// in a row.
bool IsRefusedTftpName(const std::string& normalisedName);

// The root, a "/" unless the root is empty or ends with one, then the name without its
// leading "/": a name is always taken under the root, never as an absolute path.
std::string JoinTftpPath(const std::string& root, const std::string& normalisedName);

// The outcome of option negotiation.
struct TftpNegotiation {
    uint32_t blockSize = kTftpSegment;
    int timeoutSeconds = 0;     // the caller's default unless the client changed it
    bool timeoutTaken = false;  // the client's `timeout` is in the OACK
    uint32_t fileSize = 0;      // the file's size for a read, the client's tsize for a write
    // On entry the largest window granted (1..kTftpMaxWindowSize); on return the window in
    // force: blocks sent before an acknowledgement is awaited (1 without the option).
    uint32_t maxWindow = kTftpDefaultMaxWindow;
    uint32_t windowSize = 1;
    // The OACK's option bytes (name NUL value NUL ...) behind its 2-byte opcode.
    std::array<uint8_t, kTftpPacketSize - 2> options{};
    size_t optionLength = 0;
};

// Honours blksize, timeout, tsize and windowsize (each the first time it appears; repeats are
// ignored so the OACK cannot grow past its packet), ignores every other option, and logs each
// decision. `negotiation` carries the default time-out, the largest window and, for a read, the
// file size on entry.
void NegotiateTftpOptions(const std::vector<TftpOption>& options, bool isRead,
                          TftpNegotiation* negotiation);

// The OACK's option bytes for the log: NULs become "=" and "," in turn.
std::string PrintableOack(const uint8_t* options, size_t length);

}  // namespace orvane
