#include "platform/service_notify.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "common/temp_dir.h"

namespace orvane::platform {
namespace {

// A datagram socket bound to a NOTIFY_SOCKET-style name ('@' for the abstract namespace).
class NotifyReceiver {
  public:
    explicit NotifyReceiver(const std::string& name) {
        m_iFd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::memcpy(addr.sun_path, name.data(), name.size());
        if (name[0] == '@') {
            addr.sun_path[0] = '\0';
        }
        socklen_t len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size());
        m_bBound = ::bind(m_iFd, reinterpret_cast<sockaddr*>(&addr), len) == 0;
    }
    ~NotifyReceiver() { ::close(m_iFd); }
    bool Bound() const { return m_bBound; }

    // The next datagram, or "(none)" when nothing comes within timeoutMs.
    std::string Receive(int timeoutMs) {
        pollfd p{m_iFd, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) != 1) {
            return "(none)";
        }
        char buf[256];
        ssize_t n = ::recv(m_iFd, buf, sizeof buf, 0);
        return n < 0 ? "(error)" : std::string(buf, static_cast<size_t>(n));
    }

  private:
    int m_iFd = -1;
    bool m_bBound = false;
};

// Catches a readiness note that never reaches the service manager (a path or an abstract
// address mishandled), a failure reported when no manager asked for notes, and a malformed
// NOTIFY_SOCKET reported as sent.
TEST(ServiceNotifyTest, DatagramReachesTheNamedSocket) {
    test::TempDir dir;
    const std::string abstractName = "@orvane-notify-test-" + std::to_string(::getpid());
    for (const std::string& name : {dir.File("notify"), abstractName}) {
        NotifyReceiver receiver(name);
        ASSERT_TRUE(receiver.Bound()) << name;
        setenv("NOTIFY_SOCKET", name.c_str(), 1);
        EXPECT_TRUE(NotifyServiceManager("READY=1")) << name;
        EXPECT_EQ(receiver.Receive(5000), "READY=1") << name;
    }
    setenv("NOTIFY_SOCKET", "relative/name", 1);
    EXPECT_FALSE(NotifyServiceManager("READY=1"));
    setenv("NOTIFY_SOCKET", dir.File("nobody-listens").c_str(), 1);
    EXPECT_FALSE(NotifyServiceManager("READY=1"));
    unsetenv("NOTIFY_SOCKET");
    EXPECT_TRUE(NotifyServiceManager("READY=1"));
}

}  // namespace
}  // namespace orvane::platform
