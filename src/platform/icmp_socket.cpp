#include "platform/icmp_socket.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace orvane::platform {

IcmpSocket::~IcmpSocket() {
    Close();
}

bool IcmpSocket::Open() {
    Close();
    m_iFd = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (m_iFd < 0) {
        m_iLastError = errno;
        return false;
    }
    return true;
}

void IcmpSocket::Close() {
    if (m_iFd >= 0) {
        ::close(m_iFd);
        m_iFd = -1;
    }
}

long IcmpSocket::SendTo(const void* buf, size_t len, uint32_t addr) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(addr);
    ssize_t n =
        ::sendto(m_iFd, buf, len, MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    if (n < 0) {
        m_iLastError = errno;
        return -1;
    }
    return static_cast<long>(n);
}

int IcmpSocket::WaitReadable(int timeoutMs) {
    pollfd pfd{m_iFd, POLLIN, 0};
    for (;;) {
        int r = ::poll(&pfd, 1, timeoutMs);
        if (r < 0 && errno == EINTR) {
            continue;  // a signal is no reason to report a failed wait
        }
        if (r < 0) {
            m_iLastError = errno;
            return -1;
        }
        return r > 0 ? 1 : 0;
    }
}

long IcmpSocket::Receive(void* buf, size_t len) {
    ssize_t n = ::recv(m_iFd, buf, len, 0);
    if (n < 0) {
        m_iLastError = errno;
        return -1;
    }
    return static_cast<long>(n);
}

}  // namespace orvane::platform
