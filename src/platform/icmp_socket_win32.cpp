#include "platform/icmp_socket.h"

#include <winsock2.h>

#include <iphlpapi.h>

#include <icmpapi.h>

#include <algorithm>
#include <cstring>

// The presence probe through the system's ICMP service (IcmpSendEcho2): no administrator right
// is needed, and each probe receives the answer to its own echo only, where a raw socket sees
// every ICMP datagram of the host, so one probe's answer could once decide another's.

namespace orvane::platform {

namespace {

constexpr uint8_t kTypeEchoReply = 0;
constexpr uint8_t kTypeUnreachable = 3;
constexpr uint8_t kTypeEcho = 8;
constexpr uint8_t kTypeTimeExceeded = 11;
constexpr size_t kIpHeader = 20;
constexpr size_t kIcmpHeader = 8;

HANDLE AsHandle(int fd) {
    return reinterpret_cast<HANDLE>(static_cast<intptr_t>(fd));
}

void PutBe32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

// An IPv4 header from `from` to `to` (host byte order) carrying ICMP.
void PutIpHeader(uint8_t* p, uint32_t from, uint32_t to, size_t total) {
    std::memset(p, 0, kIpHeader);
    p[0] = 0x45;
    p[2] = static_cast<uint8_t>(total >> 8);
    p[3] = static_cast<uint8_t>(total);
    p[8] = 64;
    p[9] = IPPROTO_ICMP;
    PutBe32(p + 12, from);
    PutBe32(p + 16, to);
}

// What a raw socket would have received for this answer: the echo reply with our identifier,
// sequence and echoed data, or the error quoting our echo's header.
std::vector<uint8_t> AnswerDatagram(const ICMP_ECHO_REPLY& reply, uint32_t probed,
                                    const std::vector<uint8_t>& echo) {
    const uint32_t from = ntohl(reply.Address);
    std::vector<uint8_t> out;
    if (reply.Status == IP_SUCCESS) {
        const size_t data = reply.Data ? reply.DataSize : 0;
        out.resize(kIpHeader + kIcmpHeader + data);
        PutIpHeader(out.data(), from, 0, out.size());
        uint8_t* icmp = out.data() + kIpHeader;
        icmp[0] = kTypeEchoReply;
        std::memcpy(icmp + 4, echo.data() + 4, 4);  // identifier and sequence
        if (data > 0) {
            std::memcpy(icmp + kIcmpHeader, reply.Data, data);
        }
        return out;
    }
    const bool expired =
        reply.Status == IP_TTL_EXPIRED_TRANSIT || reply.Status == IP_TTL_EXPIRED_REASSEM;
    out.resize(kIpHeader + kIcmpHeader + kIpHeader + kIcmpHeader);
    PutIpHeader(out.data(), from, 0, out.size());
    uint8_t* icmp = out.data() + kIpHeader;
    icmp[0] = expired ? kTypeTimeExceeded : kTypeUnreachable;
    icmp[1] = 1;
    PutIpHeader(icmp + kIcmpHeader, 0, probed, kIpHeader + echo.size());
    std::memcpy(icmp + kIcmpHeader + kIpHeader, echo.data(), kIcmpHeader);
    return out;
}

bool IsErrorAnswer(IP_STATUS status) {
    switch (status) {
        case IP_DEST_NET_UNREACHABLE:
        case IP_DEST_HOST_UNREACHABLE:
        case IP_DEST_PROT_UNREACHABLE:
        case IP_DEST_PORT_UNREACHABLE:
        case IP_TTL_EXPIRED_TRANSIT:
        case IP_TTL_EXPIRED_REASSEM:
            return true;
        default:
            return false;
    }
}

}  // namespace

IcmpSocket::~IcmpSocket() {
    Close();
}

bool IcmpSocket::Open() {
    Close();
    HANDLE h = ::IcmpCreateFile();
    if (h == INVALID_HANDLE_VALUE) {
        m_iLastError = static_cast<int>(::GetLastError());
        return false;
    }
    m_iFd = static_cast<int>(reinterpret_cast<intptr_t>(h));  // 32 bits hold a kernel handle
    return true;
}

void IcmpSocket::Close() {
    if (m_iFd >= 0) {
        ::IcmpCloseHandle(AsHandle(m_iFd));
        m_iFd = -1;
    }
    m_vecPending.clear();
    m_vecAnswer.clear();
}

long IcmpSocket::SendTo(const void* buf, size_t len, uint32_t addr) {
    const auto* p = static_cast<const uint8_t*>(buf);
    if (m_iFd < 0 || len < kIcmpHeader || len > 0xFFFF || p[0] != kTypeEcho) {
        m_iLastError = WSAEINVAL;  // the system sends echoes only
        return -1;
    }
    m_vecPending.assign(p, p + len);
    m_uPendingAddr = addr;
    m_vecAnswer.clear();
    return static_cast<long>(len);
}

int IcmpSocket::WaitReadable(int timeoutMs) {
    if (!m_vecAnswer.empty()) {
        return 1;
    }
    if (m_iFd < 0 || m_vecPending.empty()) {
        return timeoutMs > 0 ? (::Sleep(static_cast<DWORD>(timeoutMs)), 0) : 0;
    }
    const std::vector<uint8_t> echo = std::move(m_vecPending);
    m_vecPending.clear();
    const WORD dataSize = static_cast<WORD>(echo.size() - kIcmpHeader);
    std::vector<uint8_t> replies(sizeof(ICMP_ECHO_REPLY) + dataSize + kIcmpHeader + 64);
    IPAddr to = htonl(m_uPendingAddr);
    DWORD n = ::IcmpSendEcho2(AsHandle(m_iFd), nullptr, nullptr, nullptr, to,
                              const_cast<uint8_t*>(echo.data()) + kIcmpHeader, dataSize, nullptr,
                              replies.data(), static_cast<DWORD>(replies.size()),
                              static_cast<DWORD>(timeoutMs > 0 ? timeoutMs : 1));
    ICMP_ECHO_REPLY reply = *reinterpret_cast<const ICMP_ECHO_REPLY*>(replies.data());
    if (n == 0) {
        // An error answer may come back as the call's error rather than as a reply.
        const DWORD error = ::GetLastError();
        if (error == IP_REQ_TIMED_OUT) {
            return 0;
        }
        if (IsErrorAnswer(static_cast<IP_STATUS>(error))) {
            reply.Status = static_cast<IP_STATUS>(error);
        } else if (!IsErrorAnswer(reply.Status)) {
            m_iLastError = static_cast<int>(error);
            return -1;
        }
    } else if (reply.Status != IP_SUCCESS && !IsErrorAnswer(reply.Status)) {
        return 0;  // timed out or dropped on the way: no answer
    }
    m_vecAnswer = AnswerDatagram(reply, m_uPendingAddr, echo);
    return 1;
}

long IcmpSocket::Receive(void* buf, size_t len) {
    if (m_vecAnswer.empty()) {
        m_iLastError = WSAEWOULDBLOCK;
        return -1;
    }
    const size_t n = std::min(len, m_vecAnswer.size());
    std::memcpy(buf, m_vecAnswer.data(), n);
    m_vecAnswer.clear();
    return static_cast<long>(n);
}

}  // namespace orvane::platform
