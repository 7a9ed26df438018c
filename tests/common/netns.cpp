#include "common/netns.h"

#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

namespace orvane::test {

namespace {
bool g_bInPrivateNetwork = false;
}

bool EnterPrivateNetwork() {
    if (unshare(CLONE_NEWNET) != 0) {
        return false;
    }
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    ifreq ifr{};
    std::strncpy(ifr.ifr_name, "lo", IFNAMSIZ - 1);
    bool ok = ioctl(fd, SIOCGIFFLAGS, &ifr) == 0;
    ifr.ifr_flags |= IFF_UP | IFF_RUNNING;
    ok = ok && ioctl(fd, SIOCSIFFLAGS, &ifr) == 0;
    close(fd);
    g_bInPrivateNetwork = ok;
    return ok;
}

bool InPrivateNetwork() {
    return g_bInPrivateNetwork;
}

}  // namespace orvane::test
