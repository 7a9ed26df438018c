#include "platform/wake_event.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <cerrno>
#include <cstdint>

namespace orvane::platform {

WakeEvent::WakeEvent() : m_iFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

WakeEvent::~WakeEvent() {
    if (m_iFd >= 0) {
        ::close(m_iFd);
    }
}

void WakeEvent::Set() {
    uint64_t one = 1;
    // A full counter (never reached in practice) still leaves the event set.
    ssize_t n = ::write(m_iFd, &one, sizeof one);
    (void)n;
}

bool WakeEvent::Consume() {
    uint64_t value = 0;
    return ::read(m_iFd, &value, sizeof value) == static_cast<ssize_t>(sizeof value);
}

bool WakeEvent::Wait(int timeoutMs) {
    // Another waiter may consume the event between the poll and the read: wait again then.
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
    pollfd fds[8];
    nfds_t count = 0;
    for (int h : handles) {
        if (count < 8) {
            fds[count++] = pollfd{h, POLLIN, 0};
        }
    }
    for (;;) {
        int r = ::poll(fds, count, timeoutMs);
        if (r < 0 && errno == EINTR) {
            continue;  // a signal is no reason to report a failed wait
        }
        if (r < 0) {
            return -2;
        }
        if (r == 0) {
            return -1;
        }
        for (nfds_t i = 0; i < count; ++i) {
            if (fds[i].revents != 0) {
                return static_cast<int>(i);
            }
        }
        return -1;
    }
}

}  // namespace orvane::platform
