#include "platform/tcp_socket.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace orvane::platform {

namespace {

int WaitFor(int fd, short events, int timeoutMs) {
    pollfd p{fd, events, 0};
    int rc = 0;
    do {
        rc = ::poll(&p, 1, timeoutMs);
    } while (rc < 0 && errno == EINTR);
    return rc < 0 ? -1 : rc > 0 ? 1 : 0;
}

void NameOf(int fd, bool peer, SocketAddress* out) {
    socklen_t len = sizeof out->storage;
    sockaddr* sa = reinterpret_cast<sockaddr*>(out->storage.data());
    if ((peer ? ::getpeername(fd, sa, &len) : ::getsockname(fd, sa, &len)) == 0) {
        out->length = len;
    }
}

}  // namespace

TcpConnection::~TcpConnection() {
    Close();
}

TcpConnection::TcpConnection(TcpConnection&& other) noexcept
    : m_iFd(other.m_iFd), m_peer(other.m_peer), m_local(other.m_local) {
    other.m_iFd = -1;
}

TcpConnection& TcpConnection::operator=(TcpConnection&& other) noexcept {
    if (this != &other) {
        Close();
        m_iFd = other.m_iFd;
        m_peer = other.m_peer;
        m_local = other.m_local;
        other.m_iFd = -1;
    }
    return *this;
}

void TcpConnection::Close() {
    if (m_iFd >= 0) {
        ::close(m_iFd);
        m_iFd = -1;
    }
}

long TcpConnection::Receive(void* buf, size_t len) {
    ssize_t n = 0;
    do {
        n = ::recv(m_iFd, buf, len, 0);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        return errno == EAGAIN || errno == EWOULDBLOCK ? kWouldBlock : -1;
    }
    return static_cast<long>(n);
}

long TcpConnection::Send(const void* buf, size_t len) {
    ssize_t n = 0;
    do {
        n = ::send(m_iFd, buf, len, MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        return errno == EAGAIN || errno == EWOULDBLOCK ? kWouldBlock : -1;
    }
    return static_cast<long>(n);
}

int TcpConnection::WaitReadable(int timeoutMs) const {
    return WaitFor(m_iFd, POLLIN, timeoutMs);
}

int TcpConnection::WaitWritable(int timeoutMs) const {
    return WaitFor(m_iFd, POLLOUT, timeoutMs);
}

TcpListener::~TcpListener() {
    Close();
}

bool TcpListener::Listen(const std::string& host, int port, std::string* error) {
    Close();
    const std::string service = std::to_string(port);
    ResolveResult resolved = ResolvePassive(host.c_str(), service.c_str());
    if (resolved.iError != 0) {
        *error = host + ": " + resolved.szText;
        return false;
    }
    const sockaddr* sa = reinterpret_cast<const sockaddr*>(resolved.address.storage.data());
    m_iFd = ::socket(sa->sa_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const int on = 1;
    if (m_iFd < 0 || ::setsockopt(m_iFd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        ::bind(m_iFd, sa, resolved.address.length) != 0 || ::listen(m_iFd, SOMAXCONN) != 0) {
        *error = std::strerror(errno);
        Close();
        return false;
    }
    return true;
}

int TcpListener::Port() const {
    SocketAddress local;
    NameOf(m_iFd, false, &local);
    return local.Port();
}

bool TcpListener::Accept(TcpConnection* out) {
    int fd = -1;
    do {
        fd = ::accept4(m_iFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        return false;
    }
    out->Close();
    out->m_iFd = fd;
    out->m_peer = SocketAddress{};
    out->m_local = SocketAddress{};
    NameOf(fd, true, &out->m_peer);
    NameOf(fd, false, &out->m_local);
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return true;
}

void TcpListener::Close() {
    if (m_iFd >= 0) {
        ::close(m_iFd);
        m_iFd = -1;
    }
}

}  // namespace orvane::platform
