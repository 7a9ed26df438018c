#include "tools/devsim/tftp_fetch.h"

#include "tools/devsim/fetch_loop.h"
#include "tools/devsim/tftp_fetch_session.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <vector>

namespace orvane::devsim {

namespace {

constexpr size_t kHeader = 4;
constexpr size_t kMaxErrorText = 100;  // a hostile server's text is cut to this in our reports

void PutU16(std::string* p, uint16_t v) {
    p->push_back(static_cast<char>(v >> 8));
    p->push_back(static_cast<char>(v & 0xFF));
}

uint16_t GetU16(const char* p) {
    return static_cast<uint16_t>((static_cast<uint8_t>(p[0]) << 8) | static_cast<uint8_t>(p[1]));
}

std::string Ack(uint16_t block) {
    std::string p;
    PutU16(&p, kTftpAck);
    PutU16(&p, block);
    return p;
}

std::string Error(uint16_t code, const std::string& text) {
    std::string p;
    PutU16(&p, kTftpError);
    PutU16(&p, code);
    p += text;
    p.push_back('\0');
    return p;
}

bool IEquals(const std::string& a, const char* b) {
    std::string lower = a;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower == b;
}

// A decimal number of at most 19 digits; false for anything else.
bool ParseDecimal(const std::string& text, uint64_t* out) {
    if (text.empty() || text.size() > 19) {
        return false;
    }
    uint64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        v = v * 10 + static_cast<uint64_t>(c - '0');
    }
    *out = v;
    return true;
}

// The printable part of a server's ERROR text, bounded.
std::string ErrorText(const char* p, size_t len) {
    std::string text;
    for (size_t i = 0; i < len && p[i] != '\0' && text.size() < kMaxErrorText; ++i) {
        unsigned char c = static_cast<unsigned char>(p[i]);
        text.push_back(c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?');
    }
    return text;
}

}  // namespace

FetchSession::FetchSession(const platform::Endpoint& server, const TftpFetchOptions& options,
                           const TftpSink& sink)
    : m_server(server), m_options(options), m_sink(sink) {
    m_bOptionsAsked = options.uBlksize != 0 || options.bTsize || options.uAskTimeout != 0 ||
                      options.uWindowsize != 0;
    m_vecBuffer.resize(std::max(options.uBlksize, kTftpDefaultBlock) + kHeader + 1);
}

void FetchSession::Send(const std::string& packet, const platform::Endpoint& to) {
    // A failed send is a lost packet: the resend clock covers it.
    m_socket.SendTo(packet.data(), packet.size(), to);
}

void FetchSession::SendNew(const std::string& packet, int64_t nowUs) {
    m_szLast = packet;
    m_lastTo = m_bHaveTid ? m_tid : m_server;
    m_iSends = 1;
    m_iDeadlineUs = nowUs + int64_t{m_options.iTimeoutMs} * 1000;
    Send(m_szLast, m_lastTo);
}

bool FetchSession::Fail(const std::string& why) {
    m_result.bOk = false;
    m_result.szError = why;
    return false;
}

bool FetchSession::OpenSocket() {
    if (!m_socket.Open()) {
        return false;
    }
    const bool bound = m_options.uSourceAddr != 0
                           ? m_socket.Bind(platform::Endpoint{m_options.uSourceAddr, 0})
                           : m_socket.BindAnyPort();
    return bound && m_socket.SetNonBlocking(true);
}

bool FetchSession::Begin(const std::string& name, int64_t nowUs) {
    if (!OpenSocket()) {
        return Fail("cannot open a TFTP socket: " +
                    platform::SocketErrorText(m_socket.LastError()));
    }
    SendNew(BuildReadRequest(name, m_options), nowUs);
    return true;
}

bool FetchSession::OnReadable(int64_t nowUs) {
    // One datagram a call: the loop calls again while more wait, and a receive that finds
    // nothing would cost a system call a block.
    platform::Endpoint from;
    long n = m_socket.ReceiveFrom(m_vecBuffer.data(), m_vecBuffer.size(), &from);
    if (n < 0) {
        // Nothing there after all, or an ICMP error queued on the socket: the resend clock
        // decides either way.
        return true;
    }
    return HandlePacket(m_vecBuffer.data(), static_cast<size_t>(n), from, nowUs);
}

bool FetchSession::OnTime(int64_t nowUs) {
    if (m_bAckPending) {
        if (nowUs < m_iAckDueUs) {
            return true;
        }
        m_bAckPending = false;
        SendNew(m_szPendingAck, nowUs);
        return m_bLastPending ? Finish() : true;
    }
    if (nowUs < m_iDeadlineUs) {
        return true;
    }
    if (m_iSends >= m_options.iTries) {
        return Fail(m_uExpected == 1 && !m_bHaveTid
                        ? "no answer to the read request"
                        : "timed out waiting for block " + std::to_string(m_uExpected));
    }
    ++m_iSends;
    ++m_result.uResends;
    m_iDeadlineUs = nowUs + int64_t{m_options.iTimeoutMs} * 1000;
    Send(m_szLast, m_lastTo);
    return true;
}

bool FetchSession::HandlePacket(const char* p, size_t n, const platform::Endpoint& from,
                                int64_t nowUs) {
    if (from.addr != m_server.addr || n < kHeader) {
        return true;
    }
    if (m_bHaveTid && from.port != m_tid.port) {
        Send(Error(5, "Unknown transfer ID"), from);  // RFC 1350: the other transfer goes on
        return true;
    }
    uint16_t op = GetU16(p);
    if (op != kTftpData && op != kTftpOack && op != kTftpError) {
        return true;
    }
    if (!m_bHaveTid) {
        m_tid = from;
        m_bHaveTid = true;
    }
    if (op == kTftpError) {
        return Fail("server error " + std::to_string(GetU16(p + 2)) + ": " +
                    ErrorText(p + kHeader, n - kHeader));
    }
    if (m_bAckPending) {
        return true;  // busy writing the last block: a boot loader hears nothing meanwhile
    }
    if (op == kTftpOack) {
        return HandleOack(p + 2, n - 2, nowUs);
    }
    return HandleData(GetU16(p + 2), p + kHeader, n - kHeader, nowUs);
}

bool FetchSession::HandleOack(const char* p, size_t n, int64_t nowUs) {
    bool beforeData = m_uExpected == 1 && m_result.uBytes == 0;
    if (m_bGotOack) {
        if (beforeData) {  // our ACK 0 was lost: the server offers again
            ++m_result.uDupAcks;
            Send(m_szLast, m_tid);
        }
        return true;
    }
    if (!m_bOptionsAsked || !beforeData) {
        Send(Error(8, "Unexpected OACK"), m_tid);
        return Fail("OACK to a request without options");
    }
    std::string why = CheckOack(p, n, m_options, &m_negotiated);
    if (!why.empty()) {
        Send(Error(8, why), m_tid);  // RFC 2347: the client ends the transfer with ERROR 8
        return Fail("refused OACK: " + why);
    }
    m_bGotOack = true;
    m_result.uBlksize = m_negotiated.uBlksize;
    SendNew(Ack(0), nowUs);
    return true;
}

bool FetchSession::HandleData(uint16_t block, const char* data, size_t len, int64_t nowUs) {
    unsigned blksize = m_negotiated.uBlksize;
    const unsigned window = m_negotiated.uWindowsize;
    if (block != m_uExpected && window > 1) {
        // RFC 7440: the last block before a gap is acknowledged once, and the server's next
        // window begins after it. A block we have means our ACK was lost, unless blocks came in
        // order since: the server went on already, and an ACK now would put its windows one
        // block out of step with ours.
        const bool old = static_cast<uint16_t>(m_uExpected - block) < 0x8000;
        if (!m_bGapAcked && (!old || m_uTaken == 0)) {
            ++m_result.uDupAcks;
            m_bGapAcked = true;
            m_uTaken = 0;
            SendNew(Ack(static_cast<uint16_t>(m_uExpected - 1)), nowUs);
        }
        return true;
    }
    if (block != m_uExpected) {
        // The block before the awaited one: our ACK was lost; acknowledge it again.
        if (block == static_cast<uint16_t>(m_uExpected - 1) && m_result.uBytes > 0) {
            ++m_result.uDupAcks;
            Send(m_szLast, m_tid);
        }
        return true;
    }
    if (len > blksize) {
        Send(Error(4, "Block larger than negotiated"), m_tid);
        return Fail("DATA " + std::to_string(block) + " carries " + std::to_string(len) +
                    " bytes, more than the block size " + std::to_string(blksize));
    }
    if (m_result.uBytes + len > m_options.uMaxBytes) {
        Send(Error(3, "File too large"), m_tid);
        return Fail("file larger than " + std::to_string(m_options.uMaxBytes) + " bytes");
    }
    std::string reason;
    if (len > 0 && !m_sink(m_result.uBytes, data, len, &reason)) {
        Send(Error(0, "Transfer abandoned"), m_tid);
        return Fail(reason);
    }
    m_result.uBytes += len;
    ++m_uExpected;  // wraps 65535 -> 0 with the server's numbering
    const bool last = len < blksize;
    m_bGapAcked = false;
    if (++m_uTaken < window && !last) {
        // Inside a window: no ACK yet, but a silence from here on is answered with this one.
        m_szLast = Ack(block);
        m_lastTo = m_tid;
        m_iSends = 1;
        m_iDeadlineUs = nowUs + int64_t{m_options.iTimeoutMs} * 1000;
        return true;
    }
    m_uTaken = 0;
    if (m_options.iAckDelayMs > 0) {
        // The server's next DATA waits for this ACK, so the pause slows this transfer alone.
        m_szPendingAck = Ack(block);
        m_bAckPending = true;
        m_bLastPending = last;
        m_iAckDueUs = nowUs + int64_t{m_options.iAckDelayMs} * 1000;
        return true;
    }
    SendNew(Ack(block), nowUs);
    return last ? Finish() : true;
}

// The last block is in and acknowledged. Always false: the transfer has ended.
bool FetchSession::Finish() {
    if (m_negotiated.bTsize && m_negotiated.uTsize != m_result.uBytes) {
        return Fail("received " + std::to_string(m_result.uBytes) + " bytes, tsize said " +
                    std::to_string(m_negotiated.uTsize));
    }
    m_result.bOk = true;
    return false;
}

std::string BuildReadRequest(const std::string& name, const TftpFetchOptions& options) {
    std::string p;
    PutU16(&p, kTftpRrq);
    p += name;
    p.push_back('\0');
    p += "octet";
    p.push_back('\0');
    if (options.uBlksize != 0) {
        p += "blksize";
        p.push_back('\0');
        p += std::to_string(options.uBlksize);
        p.push_back('\0');
    }
    if (options.bTsize) {
        p += "tsize";
        p.push_back('\0');
        p += "0";
        p.push_back('\0');
    }
    if (options.uAskTimeout != 0) {
        p += "timeout";
        p.push_back('\0');
        p += std::to_string(options.uAskTimeout);
        p.push_back('\0');
    }
    if (options.uWindowsize != 0) {
        p += "windowsize";
        p.push_back('\0');
        p += std::to_string(options.uWindowsize);
        p.push_back('\0');
    }
    return p;
}

std::string CheckOack(const char* options, size_t len, const TftpFetchOptions& asked,
                      TftpNegotiated* out) {
    TftpNegotiated result;
    size_t at = 0;
    while (at < len) {
        const char* nameEnd = static_cast<const char*>(std::memchr(options + at, '\0', len - at));
        if (!nameEnd) {
            return "unterminated option list";
        }
        std::string name(options + at, nameEnd);
        at = static_cast<size_t>(nameEnd - options) + 1;
        const char* valueEnd =
            at < len ? static_cast<const char*>(std::memchr(options + at, '\0', len - at))
                     : nullptr;
        if (!valueEnd) {
            return "option " + name.substr(0, 32) + " without a terminated value";
        }
        std::string value(options + at, valueEnd);
        at = static_cast<size_t>(valueEnd - options) + 1;
        uint64_t v = 0;
        if (IEquals(name, "blksize") && asked.uBlksize != 0) {
            if (!ParseDecimal(value, &v) || v < kTftpMinBlksize || v > asked.uBlksize) {
                return "blksize " + value.substr(0, 32) + " not acceptable";
            }
            result.uBlksize = static_cast<unsigned>(v);
        } else if (IEquals(name, "tsize") && asked.bTsize) {
            if (!ParseDecimal(value, &v)) {
                return "tsize " + value.substr(0, 32) + " not a number";
            }
            result.bTsize = true;
            result.uTsize = v;
        } else if (IEquals(name, "windowsize") && asked.uWindowsize != 0) {
            if (!ParseDecimal(value, &v) || v < 1 || v > asked.uWindowsize) {
                return "windowsize " + value.substr(0, 32) + " not acceptable";
            }
            result.uWindowsize = static_cast<unsigned>(v);
        } else if (IEquals(name, "timeout") && asked.uAskTimeout != 0) {
            if (!ParseDecimal(value, &v) || v != asked.uAskTimeout) {
                return "timeout " + value.substr(0, 32) + " not the one asked";
            }
        } else {
            return "option " + name.substr(0, 32) + " not asked for";
        }
    }
    *out = result;
    return std::string();
}

TftpFetchResult TftpFetch(const platform::Endpoint& server, const std::string& name,
                          const TftpFetchOptions& options, const TftpSink& sink) {
    FetchSession session(server, options, sink);
    FetchLoop::Shared().Run(session, name);
    return session.Result();
}

}  // namespace orvane::devsim
