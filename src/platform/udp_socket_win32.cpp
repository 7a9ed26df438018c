#include "platform/udp_socket.h"

#include "platform/sockaddr_cast.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <mswsock.h>

#include <algorithm>
#include <cstring>

#include "platform/win32_util.h"

// Socket handles are kernel handles, which keep their value in 32 bits (so that 32- and 64-bit
// processes can share them): they fit the seam's int handles. Errors are Winsock's own codes
// (10013 access denied, 10048 address in use, ...), which the log shows as they are.

namespace orvane::platform {

namespace {

SOCKET AsSocket(int fd) {
    return static_cast<SOCKET>(static_cast<uintptr_t>(static_cast<unsigned>(fd)));
}

using detail::AsSockaddr;
using detail::FamilyOf;
using detail::ToSockaddr;

int OpenSocket(int family) {
    win32::EnsureWinsock();
    // Overlapped, so another thread can cancel a blocked receive (Shutdown); not inherited by
    // programs this one starts.
    SOCKET s = ::WSASocketW(family, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0,
                            WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET) {
        return -1;
    }
    // Without this, an ICMP port-unreachable that answers one of our datagrams makes the
    // socket's next receive fail with WSAECONNRESET: any host could then fail a wait of the
    // listener or the TFTP server by refusing a datagram.
    BOOL report = FALSE;
    DWORD unused = 0;
    ::WSAIoctl(s, SIO_UDP_CONNRESET, &report, sizeof report, nullptr, 0, &unused, nullptr, nullptr);
    return static_cast<int>(s);
}

}  // namespace

SocketErrorKind ClassifySocketError(int err) {
    switch (err) {
        case 0:
            return SocketErrorKind::kNone;
        case WSAEACCES:
        case ERROR_ACCESS_DENIED:
            return SocketErrorKind::kAccessDenied;
        case WSAEADDRINUSE:
            return SocketErrorKind::kAddressInUse;
        case WSAEADDRNOTAVAIL:
            return SocketErrorKind::kAddressNotAvailable;
        case WSAEINVAL:
            return SocketErrorKind::kInvalid;
        case WSAEWOULDBLOCK:
            return SocketErrorKind::kWouldBlock;
        default:
            return SocketErrorKind::kOther;
    }
}

std::string SocketErrorText(int err) {
    return win32::ErrorText(static_cast<unsigned long>(err));
}

UdpSocket::~UdpSocket() {
    Close();
}

UdpSocket::UdpSocket(UdpSocket&& other) noexcept
    : m_iFd(other.m_iFd), m_iFamily(other.m_iFamily), m_iLastError(other.m_iLastError.load()) {
    other.m_iFd = -1;
}

UdpSocket& UdpSocket::operator=(UdpSocket&& other) noexcept {
    if (this != &other) {
        Close();
        m_iFd = other.m_iFd;
        m_iFamily = other.m_iFamily;
        m_iLastError = other.m_iLastError.load();
        other.m_iFd = -1;
    }
    return *this;
}

int UdpSocket::Fail() {
    m_iLastError = ::WSAGetLastError();
    return -1;
}

bool UdpSocket::Check(int rc) {
    if (rc == 0) {
        return true;
    }
    m_iLastError = ::WSAGetLastError();
    return false;
}

bool UdpSocket::Open() {
    Close();
    m_iFd = OpenSocket(AF_INET);
    if (m_iFd < 0) {
        Fail();
        return false;
    }
    m_iFamily = AF_INET;
    return true;
}

bool UdpSocket::OpenLike(const SocketAddress& address) {
    Close();
    int family = FamilyOf(address);
    m_iFd = OpenSocket(family);
    if (m_iFd < 0) {
        Fail();
        return false;
    }
    m_iFamily = family;
    return true;
}

void UdpSocket::Close() {
    m_iReceiveTimeoutMs = -1;
    if (m_iFd >= 0) {
        ::closesocket(AsSocket(m_iFd));
        m_iFd = -1;
    }
}

bool UdpSocket::SetNonBlocking(bool on) {
    u_long value = on ? 1 : 0;
    return Check(::ioctlsocket(AsSocket(m_iFd), FIONBIO, &value));
}

bool UdpSocket::SetReuseAddress() {
    // On Windows, SO_REUSEADDR would let any later socket take the port over, so the port is
    // held exclusively instead: a second server's bind fails with WSAEADDRINUSE and says so.
    BOOL on = TRUE;
    return Check(::setsockopt(AsSocket(m_iFd), SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
                              reinterpret_cast<const char*>(&on), sizeof on));
}

bool UdpSocket::SetSharedBroadcastPort() {
    BOOL on = TRUE;
    return Check(::setsockopt(AsSocket(m_iFd), SOL_SOCKET, SO_REUSEADDR,
                              reinterpret_cast<const char*>(&on), sizeof on));
}

bool UdpSocket::SetBroadcast() {
    BOOL on = TRUE;
    return Check(::setsockopt(AsSocket(m_iFd), SOL_SOCKET, SO_BROADCAST,
                              reinterpret_cast<const char*>(&on), sizeof on));
}

bool UdpSocket::SetReceiveBuffer(int bytes) {
    return Check(::setsockopt(AsSocket(m_iFd), SOL_SOCKET, SO_RCVBUF,
                              reinterpret_cast<const char*>(&bytes), sizeof bytes));
}

bool UdpSocket::SetSendBuffer(int bytes) {
    return Check(::setsockopt(AsSocket(m_iFd), SOL_SOCKET, SO_SNDBUF,
                              reinterpret_cast<const char*>(&bytes), sizeof bytes));
}

bool UdpSocket::SetIPv6Only(bool only) {
    DWORD value = only ? 1 : 0;
    return Check(::setsockopt(AsSocket(m_iFd), IPPROTO_IPV6, IPV6_V6ONLY,
                              reinterpret_cast<const char*>(&value), sizeof value));
}

bool UdpSocket::Bind(const SocketAddress& local) {
    return Check(::bind(AsSocket(m_iFd), AsSockaddr(local), static_cast<int>(local.length)));
}

bool UdpSocket::BindAnyPort() {
    if (m_iFamily == AF_INET6) {
        sockaddr_in6 sa6{};
        sa6.sin6_family = AF_INET6;
        sa6.sin6_addr = in6addr_any;
        return Check(::bind(AsSocket(m_iFd), reinterpret_cast<sockaddr*>(&sa6), sizeof sa6));
    }
    return Bind(Endpoint{});
}

bool UdpSocket::Connect(const SocketAddress& peer) {
    return Check(::connect(AsSocket(m_iFd), AsSockaddr(peer), static_cast<int>(peer.length)));
}

bool UdpSocket::LocalAddress(SocketAddress* out) const {
    SocketAddress a;
    int len = static_cast<int>(a.storage.size());
    if (::getsockname(AsSocket(m_iFd), reinterpret_cast<sockaddr*>(a.storage.data()), &len) != 0) {
        return false;
    }
    a.length = static_cast<uint32_t>(len);
    *out = a;
    return true;
}

void UdpSocket::Shutdown() {
    if (m_iFd >= 0) {
        // A shut datagram socket does not wake a receive blocked on it on Windows: cancelling
        // the socket's pending operations does.
        ::shutdown(AsSocket(m_iFd), SD_BOTH);
        ::CancelIoEx(reinterpret_cast<HANDLE>(AsSocket(m_iFd)), nullptr);
        m_iReceiveTimeoutMs = 0;
        DWORD immediate = 1;
        ::setsockopt(AsSocket(m_iFd), SOL_SOCKET, SO_RCVTIMEO,
                     reinterpret_cast<const char*>(&immediate), sizeof immediate);
    }
}

bool UdpSocket::Bind(const Endpoint& local) {
    sockaddr_in sa = ToSockaddr(local);
    return Check(::bind(AsSocket(m_iFd), reinterpret_cast<sockaddr*>(&sa), sizeof sa));
}

bool UdpSocket::Connect(const Endpoint& peer) {
    sockaddr_in sa = ToSockaddr(peer);
    return Check(::connect(AsSocket(m_iFd), reinterpret_cast<sockaddr*>(&sa), sizeof sa));
}

bool UdpSocket::LocalEndpoint(Endpoint* out) const {
    sockaddr_in sa{};
    int len = sizeof sa;
    if (::getsockname(AsSocket(m_iFd), reinterpret_cast<sockaddr*>(&sa), &len) != 0) {
        return false;
    }
    out->addr = ntohl(sa.sin_addr.s_addr);
    out->port = ntohs(sa.sin_port);
    return true;
}

int UdpSocket::WaitReadable(int timeoutMs) const {
    WSAPOLLFD fd{AsSocket(m_iFd), POLLRDNORM, 0};
    int r = ::WSAPoll(&fd, 1, timeoutMs < 0 ? -1 : timeoutMs);
    return r == SOCKET_ERROR ? -1 : (r > 0 ? 1 : 0);
}

namespace {

// The bytes a receive of `len` gave, or -1 with *error set. A datagram longer than the buffer
// fills it, cut, as on Linux, instead of being an error.
long Received(int n, size_t len, int* error) {
    if (n != SOCKET_ERROR) {
        return n;
    }
    *error = ::WSAGetLastError();
    return *error == WSAEMSGSIZE ? static_cast<long>(len) : -1;
}

}  // namespace

long UdpSocket::ReceiveFrom(void* buf, size_t len, Endpoint* from) {
    sockaddr_in sa{};
    int slen = sizeof sa;
    int error = 0;
    long n = Received(::recvfrom(AsSocket(m_iFd), static_cast<char*>(buf), static_cast<int>(len), 0,
                                 reinterpret_cast<sockaddr*>(&sa), &slen),
                      len, &error);
    if (n < 0) {
        m_iLastError = error;
        return -1;
    }
    if (from) {
        from->addr = ntohl(sa.sin_addr.s_addr);
        from->port = ntohs(sa.sin_port);
    }
    return n;
}

long UdpSocket::ReceiveFromAddress(void* buf, size_t len, SocketAddress* from) {
    SocketAddress a;
    int slen = static_cast<int>(a.storage.size());
    int error = 0;
    long n = Received(::recvfrom(AsSocket(m_iFd), static_cast<char*>(buf), static_cast<int>(len), 0,
                                 reinterpret_cast<sockaddr*>(a.storage.data()), &slen),
                      len, &error);
    if (n < 0) {
        m_iLastError = error;
        return -1;
    }
    if (from) {
        a.length = static_cast<uint32_t>(slen);
        *from = a;
    }
    return n;
}

long UdpSocket::Receive(void* buf, size_t len) {
    int error = 0;
    long n = Received(::recv(AsSocket(m_iFd), static_cast<char*>(buf), static_cast<int>(len), 0),
                      len, &error);
    if (n < 0) {
        // A receive cancelled by Shutdown ends like a shut socket's on Linux.
        if (error == WSA_OPERATION_ABORTED || error == WSAESHUTDOWN || error == WSAEINTR) {
            return 0;
        }
        m_iLastError = error;
        return -1;
    }
    return n;
}

long UdpSocket::ReceiveWithin(void* buf, size_t len, int timeoutMs) {
    if (timeoutMs != m_iReceiveTimeoutMs) {
        // Zero means "no limit" to Windows: the shortest wait is one millisecond.
        DWORD ms = static_cast<DWORD>(std::max(timeoutMs, 1));
        if (::setsockopt(AsSocket(m_iFd), SOL_SOCKET, SO_RCVTIMEO,
                         reinterpret_cast<const char*>(&ms), sizeof ms) != 0) {
            return Fail();
        }
        m_iReceiveTimeoutMs = timeoutMs;
    }
    int error = 0;
    long n = Received(::recv(AsSocket(m_iFd), static_cast<char*>(buf), static_cast<int>(len), 0),
                      len, &error);
    if (n >= 0) {
        return n;
    }
    if (error == WSAETIMEDOUT || error == WSAEWOULDBLOCK) {
        return kTimedOut;
    }
    m_iLastError = error;
    return -1;
}

long UdpSocket::SendTo(const void* buf, size_t len, const Endpoint& to) {
    sockaddr_in sa = ToSockaddr(to);
    int n = ::sendto(AsSocket(m_iFd), static_cast<const char*>(buf), static_cast<int>(len), 0,
                     reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    return n == SOCKET_ERROR ? Fail() : static_cast<long>(n);
}

long UdpSocket::SendToAddress(const void* buf, size_t len, const SocketAddress& to) {
    int n = ::sendto(AsSocket(m_iFd), static_cast<const char*>(buf), static_cast<int>(len), 0,
                     AsSockaddr(to), static_cast<int>(to.length));
    return n == SOCKET_ERROR ? Fail() : static_cast<long>(n);
}

long UdpSocket::Send(const void* buf, size_t len) {
    int n = ::send(AsSocket(m_iFd), static_cast<const char*>(buf), static_cast<int>(len), 0);
    return n == SOCKET_ERROR ? Fail() : static_cast<long>(n);
}

}  // namespace orvane::platform
