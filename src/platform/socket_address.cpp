#include "platform/udp_socket.h"

#include "platform/sockaddr_cast.h"

// Addresses and name resolution: the same calls on both systems (Winsock has them too).
#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

#include <algorithm>
#include <cstring>

namespace orvane::platform {

namespace {

using detail::AsSockaddr;
using detail::FamilyOf;
using detail::ToSockaddr;

}  // namespace

bool SocketAddress::IsIPv6() const {
    return FamilyOf(*this) == AF_INET6;
}

bool SocketAddress::IsIPv4() const {
    return FamilyOf(*this) == AF_INET;
}

bool SocketAddress::IsV4Mapped() const {
    if (!IsIPv6()) {
        return false;
    }
    sockaddr_in6 sa6{};
    std::memcpy(&sa6, storage.data(), sizeof sa6);
    return IN6_IS_ADDR_V4MAPPED(&sa6.sin6_addr);
}

SocketAddress SocketAddress::Unmapped() const {
    if (!IsV4Mapped()) {
        return *this;
    }
    sockaddr_in6 sa6{};
    std::memcpy(&sa6, storage.data(), sizeof sa6);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = sa6.sin6_port;
    std::memcpy(&sa.sin_addr, sa6.sin6_addr.s6_addr + 12, 4);
    SocketAddress out;
    std::memcpy(out.storage.data(), &sa, sizeof sa);
    out.length = sizeof sa;
    return out;
}

bool SocketAddress::SameHost(const SocketAddress& o) const {
    const SocketAddress a = Unmapped();
    const SocketAddress b = o.Unmapped();
    if (a.IsIPv4() && b.IsIPv4()) {
        sockaddr_in x{};
        sockaddr_in y{};
        std::memcpy(&x, a.storage.data(), sizeof x);
        std::memcpy(&y, b.storage.data(), sizeof y);
        return x.sin_addr.s_addr == y.sin_addr.s_addr;
    }
    if (a.IsIPv6() && b.IsIPv6()) {
        sockaddr_in6 x{};
        sockaddr_in6 y{};
        std::memcpy(&x, a.storage.data(), sizeof x);
        std::memcpy(&y, b.storage.data(), sizeof y);
        return std::memcmp(&x.sin6_addr, &y.sin6_addr, sizeof x.sin6_addr) == 0;
    }
    return false;
}

uint16_t SocketAddress::Port() const {
    if (IsIPv4()) {
        return ntohs(reinterpret_cast<const sockaddr_in*>(storage.data())->sin_port);
    }
    if (IsIPv6()) {
        return ntohs(reinterpret_cast<const sockaddr_in6*>(storage.data())->sin6_port);
    }
    return 0;
}

std::string SocketAddress::NumericHost() const {
    char host[NI_MAXHOST] = "unknown";
    if (getnameinfo(AsSockaddr(*this), length, host, sizeof host, nullptr, 0, NI_NUMERICHOST) !=
        0) {
        return "unknown";
    }
    return host;
}

std::string SocketAddress::NumericPort() const {
    char port[NI_MAXSERV] = "unknown";
    if (getnameinfo(AsSockaddr(*this), length, nullptr, 0, port, sizeof port, NI_NUMERICSERV) !=
        0) {
        return "unknown";
    }
    return port;
}

SocketAddress SocketAddress::FromEndpoint(const Endpoint& ep) {
    sockaddr_in sa = ToSockaddr(ep);
    SocketAddress out;
    std::memcpy(out.storage.data(), &sa, sizeof sa);
    out.length = sizeof sa;
    return out;
}

ResolveResult ResolvePassive(const char* host, const char* service) {
    ResolveResult result;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    // No AI_ADDRCONFIG: in a namespace whose only address is loopback it would hide IPv4.
    hints.ai_flags = AI_PASSIVE;
    addrinfo* list = nullptr;
    int rc = getaddrinfo(host, service, &hints, &list);
    if (rc != 0 || list == nullptr) {
        result.iError = rc != 0 ? rc : EAI_NONAME;
        result.bHostNotFound = result.iError == EAI_NONAME || result.iError == EAI_NODATA;
#ifdef _WIN32
        result.szText = gai_strerrorA(result.iError);  // the wide form is the default there
#else
        result.szText = gai_strerror(result.iError);
#endif
        return result;
    }
    size_t len = std::min<size_t>(list->ai_addrlen, result.address.storage.size());
    std::memcpy(result.address.storage.data(), list->ai_addr, len);
    result.address.length = static_cast<uint32_t>(len);
    freeaddrinfo(list);
    return result;
}

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

}  // namespace orvane::platform
