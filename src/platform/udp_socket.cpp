#include "platform/udp_socket.h"

#include "platform/sockaddr_cast.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstring>

namespace orvane::platform {

namespace {

using detail::AsSockaddr;
using detail::FamilyOf;
using detail::ToSockaddr;

}  // namespace

SocketErrorKind ClassifySocketError(int err) {
    switch (err) {
        case 0:
            return SocketErrorKind::kNone;
        case EACCES:
        case EPERM:
            return SocketErrorKind::kAccessDenied;
        case EADDRINUSE:
            return SocketErrorKind::kAddressInUse;
        case EADDRNOTAVAIL:
            return SocketErrorKind::kAddressNotAvailable;
        case EINVAL:
            return SocketErrorKind::kInvalid;
        case EAGAIN:
            return SocketErrorKind::kWouldBlock;
        default:
            return SocketErrorKind::kOther;
    }
}

std::string SocketErrorText(int err) {
    char buf[256] = {};
    // GNU strerror_r may return a static string instead of filling buf.
    const char* text = strerror_r(err, buf, sizeof buf);
    return text ? text : "";
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
    m_iLastError = errno;
    return -1;
}

bool UdpSocket::Check(int rc) {
    if (rc == 0) {
        return true;
    }
    m_iLastError = errno;
    return false;
}

bool UdpSocket::Open() {
    Close();
    m_iFd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
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
    m_iFd = ::socket(family, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
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
        ::close(m_iFd);
        m_iFd = -1;
    }
}

bool UdpSocket::SetNonBlocking(bool on) {
    int flags = ::fcntl(m_iFd, F_GETFL, 0);
    if (flags < 0) {
        return Check(flags);
    }
    flags = on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
    return Check(::fcntl(m_iFd, F_SETFL, flags));
}

bool UdpSocket::SetReuseAddress() {
    // On Linux, SO_REUSEADDR on two UDP sockets lets both bind one port, and the later one
    // takes the traffic: a second server would silently serve the devices of the first. A
    // datagram socket has no TIME_WAIT to skip, so nothing is lost by leaving it off: a second
    // server's bind then fails with EADDRINUSE and it says so.
    int off = 0;
    return Check(::setsockopt(m_iFd, SOL_SOCKET, SO_REUSEADDR, &off, sizeof off));
}

bool UdpSocket::SetSharedBroadcastPort() {
    int one = 1;
    return Check(::setsockopt(m_iFd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one));
}

bool UdpSocket::SetBroadcast() {
    int one = 1;
    return Check(::setsockopt(m_iFd, SOL_SOCKET, SO_BROADCAST, &one, sizeof one));
}

bool UdpSocket::SetReceiveBuffer(int bytes) {
    return Check(::setsockopt(m_iFd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes));
}

bool UdpSocket::SetSendBuffer(int bytes) {
    return Check(::setsockopt(m_iFd, SOL_SOCKET, SO_SNDBUF, &bytes, sizeof bytes));
}

bool UdpSocket::SetIPv6Only(bool only) {
    int value = only ? 1 : 0;
    return Check(::setsockopt(m_iFd, IPPROTO_IPV6, IPV6_V6ONLY, &value, sizeof value));
}

bool UdpSocket::Bind(const SocketAddress& local) {
    return Check(::bind(m_iFd, AsSockaddr(local), local.length));
}

bool UdpSocket::BindAnyPort() {
    if (m_iFamily == AF_INET6) {
        sockaddr_in6 sa6{};
        sa6.sin6_family = AF_INET6;
        sa6.sin6_addr = in6addr_any;
        return Check(::bind(m_iFd, reinterpret_cast<sockaddr*>(&sa6), sizeof sa6));
    }
    return Bind(Endpoint{});
}

bool UdpSocket::Connect(const SocketAddress& peer) {
    return Check(::connect(m_iFd, AsSockaddr(peer), peer.length));
}

bool UdpSocket::LocalAddress(SocketAddress* out) const {
    SocketAddress a;
    socklen_t len = a.storage.size();
    if (::getsockname(m_iFd, reinterpret_cast<sockaddr*>(a.storage.data()), &len) != 0) {
        return false;
    }
    a.length = len;
    *out = a;
    return true;
}

void UdpSocket::Shutdown() {
    if (m_iFd >= 0) {
        ::shutdown(m_iFd, SHUT_RDWR);
    }
}

bool UdpSocket::Bind(const Endpoint& local) {
    sockaddr_in sa = ToSockaddr(local);
    return Check(::bind(m_iFd, reinterpret_cast<sockaddr*>(&sa), sizeof sa));
}

bool UdpSocket::Connect(const Endpoint& peer) {
    sockaddr_in sa = ToSockaddr(peer);
    return Check(::connect(m_iFd, reinterpret_cast<sockaddr*>(&sa), sizeof sa));
}

bool UdpSocket::LocalEndpoint(Endpoint* out) const {
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    if (::getsockname(m_iFd, reinterpret_cast<sockaddr*>(&sa), &len) != 0) {
        return false;
    }
    out->addr = ntohl(sa.sin_addr.s_addr);
    out->port = ntohs(sa.sin_port);
    return true;
}

int UdpSocket::WaitReadable(int timeoutMs) const {
    pollfd pfd{m_iFd, POLLIN, 0};
    for (;;) {
        int r = ::poll(&pfd, 1, timeoutMs);
        if (r < 0 && errno == EINTR) {
            continue;  // a signal is no reason to report a failed wait
        }
        return r < 0 ? -1 : (r > 0 ? 1 : 0);
    }
}

long UdpSocket::ReceiveFrom(void* buf, size_t len, Endpoint* from) {
    sockaddr_in sa{};
    socklen_t slen = sizeof sa;
    ssize_t n = ::recvfrom(m_iFd, buf, len, 0, reinterpret_cast<sockaddr*>(&sa), &slen);
    if (n < 0) {
        return Fail();
    }
    if (from) {
        from->addr = ntohl(sa.sin_addr.s_addr);
        from->port = ntohs(sa.sin_port);
    }
    return static_cast<long>(n);
}

long UdpSocket::ReceiveFromAddress(void* buf, size_t len, SocketAddress* from) {
    SocketAddress a;
    socklen_t slen = a.storage.size();
    ssize_t n =
        ::recvfrom(m_iFd, buf, len, 0, reinterpret_cast<sockaddr*>(a.storage.data()), &slen);
    if (n < 0) {
        return Fail();
    }
    if (from) {
        a.length = slen;
        *from = a;
    }
    return static_cast<long>(n);
}

long UdpSocket::Receive(void* buf, size_t len) {
    for (;;) {
        ssize_t n = ::recv(m_iFd, buf, len, 0);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        return n < 0 ? Fail() : static_cast<long>(n);
    }
}

long UdpSocket::ReceiveWithin(void* buf, size_t len, int timeoutMs) {
    if (timeoutMs != m_iReceiveTimeoutMs) {
        timeval tv{};
        tv.tv_sec = timeoutMs / 1000;
        tv.tv_usec = (timeoutMs % 1000) * 1000;
        if (::setsockopt(m_iFd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) != 0) {
            return Fail();
        }
        m_iReceiveTimeoutMs = timeoutMs;
    }
    for (;;) {
        ssize_t n = ::recv(m_iFd, buf, len, 0);
        if (n >= 0) {
            return static_cast<long>(n);
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            return kTimedOut;
        }
        return Fail();
    }
}

long UdpSocket::SendTo(const void* buf, size_t len, const Endpoint& to) {
    sockaddr_in sa = ToSockaddr(to);
    ssize_t n =
        ::sendto(m_iFd, buf, len, MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    return n < 0 ? Fail() : static_cast<long>(n);
}

long UdpSocket::SendToAddress(const void* buf, size_t len, const SocketAddress& to) {
    ssize_t n = ::sendto(m_iFd, buf, len, MSG_NOSIGNAL,
                         reinterpret_cast<const sockaddr*>(to.storage.data()), to.length);
    return n < 0 ? Fail() : static_cast<long>(n);
}

long UdpSocket::Send(const void* buf, size_t len) {
    ssize_t n = ::send(m_iFd, buf, len, MSG_NOSIGNAL);
    return n < 0 ? Fail() : static_cast<long>(n);
}

}  // namespace orvane::platform
