#include "platform/readiness_set.h"

#include <sys/epoll.h>
#include <unistd.h>

#include <cerrno>

namespace orvane::platform {

ReadinessSet::ReadinessSet() : m_iFd(epoll_create1(EPOLL_CLOEXEC)) {}

ReadinessSet::~ReadinessSet() {
    if (m_iFd >= 0) {
        close(m_iFd);
    }
}

bool ReadinessSet::Add(int handle, uint64_t key) {
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u64 = key;
    return m_iFd >= 0 && epoll_ctl(m_iFd, EPOLL_CTL_ADD, handle, &ev) == 0;
}

void ReadinessSet::Remove(int handle) {
    if (m_iFd >= 0) {
        epoll_ctl(m_iFd, EPOLL_CTL_DEL, handle, nullptr);
    }
}

int ReadinessSet::Wait(int timeoutMs, std::vector<uint64_t>* ready, int most) {
    if (m_iFd < 0 || most <= 0) {
        return -1;
    }
    std::vector<epoll_event> events(static_cast<size_t>(most));
    int n = 0;
    do {
        n = epoll_wait(m_iFd, events.data(), most, timeoutMs);
    } while (n < 0 && errno == EINTR);
    for (int i = 0; i < n; ++i) {
        ready->push_back(events[static_cast<size_t>(i)].data.u64);
    }
    return n;
}

}  // namespace orvane::platform
