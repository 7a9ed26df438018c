#include "platform/readiness_set.h"

#include <winsock2.h>

#include <algorithm>

// Windows' completion ports report finished operations, not readiness, so the set is the list
// of sockets handed to one WSAPoll: a pass over all of them per wait, fine for the few hundred
// sockets of a simulator run.

namespace orvane::platform {

namespace {

SOCKET AsSocket(int handle) {
    return static_cast<SOCKET>(static_cast<uintptr_t>(static_cast<unsigned>(handle)));
}

}  // namespace

ReadinessSet::ReadinessSet() : m_iFd(0) {}

ReadinessSet::~ReadinessSet() = default;

bool ReadinessSet::Add(int handle, uint64_t key) {
    if (handle < 0) {
        return false;
    }
    m_vecPolled.emplace_back(handle, key);
    return true;
}

void ReadinessSet::Remove(int handle) {
    m_vecPolled.erase(std::remove_if(m_vecPolled.begin(), m_vecPolled.end(),
                                     [handle](const auto& e) { return e.first == handle; }),
                      m_vecPolled.end());
}

int ReadinessSet::Wait(int timeoutMs, std::vector<uint64_t>* ready, int most) {
    if (most <= 0) {
        return -1;
    }
    if (m_vecPolled.empty()) {
        ::Sleep(timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs));
        return 0;
    }
    std::vector<WSAPOLLFD> fds;
    fds.reserve(m_vecPolled.size());
    for (const auto& e : m_vecPolled) {
        fds.push_back(WSAPOLLFD{AsSocket(e.first), POLLRDNORM, 0});
    }
    int r = ::WSAPoll(fds.data(), static_cast<ULONG>(fds.size()), timeoutMs < 0 ? -1 : timeoutMs);
    if (r == SOCKET_ERROR) {
        return -1;
    }
    int n = 0;
    for (size_t i = 0; i < fds.size() && n < most; ++i) {
        if (fds[i].revents != 0) {
            ready->push_back(m_vecPolled[i].second);
            ++n;
        }
    }
    return n;
}

}  // namespace orvane::platform
