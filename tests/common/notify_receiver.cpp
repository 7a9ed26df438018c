#include "common/notify_receiver.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>

namespace orvane::test {

NotifyReceiver::NotifyReceiver(const std::string& name) {
    m_iFd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (m_iFd < 0 || name.empty() || name.size() >= sizeof addr.sun_path) {
        return;
    }
    std::memcpy(addr.sun_path, name.data(), name.size());
    if (name[0] == '@') {
        addr.sun_path[0] = '\0';
    }
    socklen_t len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size());
    m_bBound = ::bind(m_iFd, reinterpret_cast<sockaddr*>(&addr), len) == 0;
}

NotifyReceiver::~NotifyReceiver() {
    if (m_iFd >= 0) {
        ::close(m_iFd);
    }
}

std::string NotifyReceiver::Receive(int timeoutMs) {
    pollfd p{m_iFd, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) != 1) {
        return "(none)";
    }
    char buf[256];
    ssize_t n = ::recv(m_iFd, buf, sizeof buf, 0);
    return n < 0 ? "(error)" : std::string(buf, static_cast<size_t>(n));
}

}  // namespace orvane::test
