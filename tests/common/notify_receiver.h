#pragma once

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>
#include <string>

namespace orvane::test {

// Stands in for the service manager: a datagram socket bound to a NOTIFY_SOCKET-style name (a
// path, or '@' and a name in the abstract namespace).
class NotifyReceiver {
  public:
    explicit NotifyReceiver(const std::string& name)
        : m_iFd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        if (m_iFd >= 0 && !name.empty() && name.size() < sizeof addr.sun_path) {
            std::memcpy(addr.sun_path, name.data(), name.size());
            addr.sun_path[0] = name[0] == '@' ? '\0' : name[0];
            const auto len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size());
            m_bBound = ::bind(m_iFd, reinterpret_cast<sockaddr*>(&addr), len) == 0;
        }
    }
    ~NotifyReceiver() { ::close(m_iFd); }
    NotifyReceiver(const NotifyReceiver&) = delete;
    NotifyReceiver& operator=(const NotifyReceiver&) = delete;

    bool Bound() const { return m_bBound; }

    // The next datagram, or "(none)" when nothing comes within timeoutMs.
    std::string Receive(int timeoutMs) {
        pollfd p{m_iFd, POLLIN, 0};
        char buf[256];
        const ssize_t n = ::poll(&p, 1, timeoutMs) == 1 ? ::recv(m_iFd, buf, sizeof buf, 0) : 0;
        return n > 0 ? std::string(buf, static_cast<size_t>(n)) : "(none)";
    }

  private:
    int m_iFd;
    bool m_bBound = false;
};

}  // namespace orvane::test
