#pragma once

// Conversions between the seam's address types and the sockets API's, for the platform's
// socket files only (the same calls exist on both systems).
#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

#include "platform/udp_socket.h"

namespace orvane::platform::detail {

inline sockaddr_in ToSockaddr(const Endpoint& ep) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(ep.addr);
    sa.sin_port = htons(ep.port);
    return sa;
}

inline const sockaddr* AsSockaddr(const SocketAddress& a) {
    return reinterpret_cast<const sockaddr*>(a.storage.data());
}

inline int FamilyOf(const SocketAddress& a) {
    return a.length >= sizeof(AsSockaddr(a)->sa_family) ? AsSockaddr(a)->sa_family : AF_UNSPEC;
}

}  // namespace orvane::platform::detail
