#include "platform/tcp_socket.h"

#include "platform/sockaddr_cast.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include "platform/win32_util.h"

namespace orvane::platform {

namespace {

SOCKET AsSocket(int fd) {
    return static_cast<SOCKET>(static_cast<uintptr_t>(static_cast<unsigned>(fd)));
}

int WaitFor(int fd, short events, int timeoutMs) {
    WSAPOLLFD p{AsSocket(fd), events, 0};
    int rc = ::WSAPoll(&p, 1, timeoutMs);
    return rc == SOCKET_ERROR ? -1 : rc > 0 ? 1 : 0;
}

void NameOf(int fd, bool peer, SocketAddress* out) {
    int len = static_cast<int>(sizeof out->storage);
    sockaddr* sa = reinterpret_cast<sockaddr*>(out->storage.data());
    if ((peer ? ::getpeername(AsSocket(fd), sa, &len) : ::getsockname(AsSocket(fd), sa, &len)) ==
        0) {
        out->length = static_cast<unsigned>(len);
    }
}

bool SetNonBlocking(SOCKET s) {
    u_long on = 1;
    return ::ioctlsocket(s, FIONBIO, &on) == 0;
}

// Winsock has no MSG_NOSIGNAL and no EINTR: a closed peer is an error code, never a signal.
long Outcome(int n) {
    if (n == SOCKET_ERROR) {
        return ::WSAGetLastError() == WSAEWOULDBLOCK ? TcpConnection::kWouldBlock : -1;
    }
    return n;
}

int Chunk(size_t len) {
    // send and recv take an int length; one call moves at most this much, callers loop.
    constexpr size_t kMostAtOnce = 1u << 30;
    return static_cast<int>(len < kMostAtOnce ? len : kMostAtOnce);
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
        ::closesocket(AsSocket(m_iFd));
        m_iFd = -1;
    }
}

long TcpConnection::Receive(void* buf, size_t len) {
    return Outcome(::recv(AsSocket(m_iFd), static_cast<char*>(buf), Chunk(len), 0));
}

long TcpConnection::Send(const void* buf, size_t len) {
    return Outcome(::send(AsSocket(m_iFd), static_cast<const char*>(buf), Chunk(len), 0));
}

int TcpConnection::WaitReadable(int timeoutMs) const {
    return WaitFor(m_iFd, POLLRDNORM, timeoutMs);
}

int TcpConnection::WaitWritable(int timeoutMs) const {
    return WaitFor(m_iFd, POLLWRNORM, timeoutMs);
}

TcpListener::~TcpListener() {
    Close();
}

bool TcpListener::Listen(const std::string& host, int port, std::string* error) {
    Close();
    win32::EnsureWinsock();
    const std::string service = std::to_string(port);
    ResolveResult resolved = ResolvePassive(host.c_str(), service.c_str());
    if (resolved.iError != 0) {
        *error = host + ": " + resolved.szText;
        return false;
    }
    const sockaddr* sa = detail::AsSockaddr(resolved.address);
    SOCKET s = ::WSASocketW(sa->sa_family, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                            WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET) {
        *error = win32::ErrorText(static_cast<unsigned long>(::WSAGetLastError()));
        return false;
    }
    m_iFd = static_cast<int>(s);
    // SO_REUSEADDR on Windows would let another program bind the same port over ours; the
    // exclusive form keeps the port the view's alone (and a restart binds at once all the same,
    // as Windows has no TIME_WAIT hold on a listening port).
    const BOOL on = TRUE;
    if (::setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on),
                     sizeof on) != 0 ||
        !SetNonBlocking(s) || ::bind(s, sa, static_cast<int>(resolved.address.length)) != 0 ||
        ::listen(s, SOMAXCONN) != 0) {
        *error = win32::ErrorText(static_cast<unsigned long>(::WSAGetLastError()));
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
    SOCKET s = ::accept(AsSocket(m_iFd), nullptr, nullptr);
    if (s == INVALID_SOCKET) {
        return false;
    }
    // An accepted socket takes the listener's non-blocking mode, but not its no-inherit flag.
    ::SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    SetNonBlocking(s);
    out->Close();
    out->m_iFd = static_cast<int>(s);
    out->m_peer = SocketAddress{};
    out->m_local = SocketAddress{};
    NameOf(out->m_iFd, true, &out->m_peer);
    NameOf(out->m_iFd, false, &out->m_local);
    const BOOL on = TRUE;
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
    return true;
}

void TcpListener::Close() {
    if (m_iFd >= 0) {
        ::closesocket(AsSocket(m_iFd));
        m_iFd = -1;
    }
}

}  // namespace orvane::platform
