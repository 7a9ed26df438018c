#include "platform/udp_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

namespace orvane::platform {

namespace {

sockaddr_in ToSockaddr(const Endpoint& ep) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(ep.addr);
    sa.sin_port = htons(ep.port);
    return sa;
}

}  // namespace

bool Endpoint::Parse(const std::string& ip, uint16_t port, Endpoint* out) {
    Endpoint ep;
    ep.port = port;
    if (!ip.empty()) {
        in_addr a{};
        if (inet_pton(AF_INET, ip.c_str(), &a) != 1) {
            return false;
        }
        ep.addr = ntohl(a.s_addr);
    }
    *out = ep;
    return true;
}

std::string Endpoint::Address() const {
    in_addr a{};
    a.s_addr = htonl(addr);
    char buf[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &a, buf, sizeof buf);
    return buf;
}

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
    : m_iFd(other.m_iFd), m_iLastError(other.m_iLastError) {
    other.m_iFd = -1;
}

UdpSocket& UdpSocket::operator=(UdpSocket&& other) noexcept {
    if (this != &other) {
        Close();
        m_iFd = other.m_iFd;
        m_iLastError = other.m_iLastError;
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
    return true;
}

void UdpSocket::Close() {
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

long UdpSocket::SendTo(const void* buf, size_t len, const Endpoint& to) {
    sockaddr_in sa = ToSockaddr(to);
    ssize_t n =
        ::sendto(m_iFd, buf, len, MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    return n < 0 ? Fail() : static_cast<long>(n);
}

long UdpSocket::Send(const void* buf, size_t len) {
    ssize_t n = ::send(m_iFd, buf, len, MSG_NOSIGNAL);
    return n < 0 ? Fail() : static_cast<long>(n);
}

}  // namespace orvane::platform
