#include "platform/service_notify.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace orvane::platform {

// The notification protocol is one datagram of text on a unix socket: written here rather than
// linking the service manager's library, which the window build and every other way of starting
// the program would then carry as a dependency for these few lines.
bool NotifyServiceManager(const char* state) {
    const char* name = std::getenv("NOTIFY_SOCKET");
    if (!name || !*name) {
        return true;
    }
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    size_t len = std::strlen(name);
    if ((name[0] != '/' && name[0] != '@') || len >= sizeof addr.sun_path) {
        return false;
    }
    std::memcpy(addr.sun_path, name, len);
    if (name[0] == '@') {
        addr.sun_path[0] = '\0';  // abstract namespace: the name is the bytes after the zero
    }
    const socklen_t addrLen =
        static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + len + (name[0] == '/' ? 1 : 0));
    int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    const size_t size = std::strlen(state);
    ssize_t sent =
        ::sendto(fd, state, size, MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&addr), addrLen);
    ::close(fd);
    return sent == static_cast<ssize_t>(size);
}

}  // namespace orvane::platform
