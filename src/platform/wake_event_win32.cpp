#include "platform/wake_event.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include "platform/win32_util.h"

// Windows waits on sockets and on events with different calls, and a wait on both at once would
// put every socket into event mode. So the wake event is a socket too: a UDP socket on loopback
// connected to itself, set by a one-byte datagram; WaitForAny then waits on sockets alone.
// Socket handles are kernel handles, which keep their value in 32 bits (so that 32- and 64-bit
// processes can share them): they fit the seam's int handles.

namespace orvane::platform {

namespace {

SOCKET AsSocket(int handle) {
    return static_cast<SOCKET>(static_cast<uintptr_t>(static_cast<unsigned>(handle)));
}

int OpenSelfConnectedSocket() {
    win32::EnsureWinsock();
    SOCKET s = ::WSASocketW(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0,
                            WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET) {
        return -1;
    }
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int len = sizeof sa;
    u_long nonBlocking = 1;
    if (::bind(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ||
        ::getsockname(s, reinterpret_cast<sockaddr*>(&sa), &len) != 0 ||
        ::connect(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ||
        ::ioctlsocket(s, FIONBIO, &nonBlocking) != 0) {
        ::closesocket(s);
        return -1;
    }
    return static_cast<int>(s);
}

}  // namespace

WakeEvent::WakeEvent() : m_iFd(OpenSelfConnectedSocket()) {}

WakeEvent::~WakeEvent() {
    if (m_iFd >= 0) {
        ::closesocket(AsSocket(m_iFd));
    }
}

void WakeEvent::Set() {
    // A full buffer (sets piling up with no wait) still leaves the event set.
    const char one = 1;
    ::send(AsSocket(m_iFd), &one, 1, 0);
}

bool WakeEvent::Consume() {
    char buf[64];
    bool set = false;
    // Every set since the last wait wakes that one wait once.
    for (int i = 0; i < 4096 && ::recv(AsSocket(m_iFd), buf, sizeof buf, 0) >= 0; ++i) {
        set = true;
    }
    return set;
}

bool WakeEvent::Wait(int timeoutMs) {
    // Another waiter may consume the event between the wait and the read: wait again then.
    for (int round = 0; round < 1000; ++round) {
        if (WaitForAny({m_iFd}, timeoutMs) != 0) {
            return false;
        }
        if (Consume()) {
            return true;
        }
    }
    return false;
}

void AutoResetEvent::Set() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bSet = true;
    }
    m_cv.notify_one();
}

void AutoResetEvent::Wait() {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_cv.wait(lock, [this] { return m_bSet; });
    m_bSet = false;
}

int WaitForAny(std::initializer_list<int> handles, int timeoutMs) {
    WSAPOLLFD fds[8];
    ULONG count = 0;
    for (int h : handles) {
        if (count < 8) {
            fds[count++] = WSAPOLLFD{AsSocket(h), POLLRDNORM, 0};
        }
    }
    int r = ::WSAPoll(fds, count, timeoutMs < 0 ? -1 : timeoutMs);
    if (r == SOCKET_ERROR) {
        return -2;
    }
    if (r == 0) {
        return -1;
    }
    for (ULONG i = 0; i < count; ++i) {
        if (fds[i].revents != 0) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

}  // namespace orvane::platform
