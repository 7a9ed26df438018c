#pragma once

#include <cstdint>
#include <utility>
#include <vector>

namespace orvane::platform {

// Many handles (sockets, events) waited on at once: the handles that became readable come
// back with the key each was added with. Costs one system call per wait however many handles
// it holds, where a WaitForAny costs a pass over all of them.
class ReadinessSet {
  public:
    ReadinessSet();
    ~ReadinessSet();
    ReadinessSet(const ReadinessSet&) = delete;
    ReadinessSet& operator=(const ReadinessSet&) = delete;

    bool IsValid() const { return m_iFd >= 0; }
    // False when the handle cannot be added (it stays out of the set).
    bool Add(int handle, uint64_t key);
    // A handle is also dropped by the system when it is closed.
    void Remove(int handle);
    // Waits up to timeoutMs (negative: without limit) and appends the keys of the ready
    // handles to `ready` (at most `most`). The number appended, 0 on time-out, -1 on failure.
    int Wait(int timeoutMs, std::vector<uint64_t>* ready, int most = 256);

  private:
    int m_iFd = -1;  // the epoll descriptor; on Windows 0 once made
    // Windows has no readiness set a socket can join: the handles and keys polled at each wait.
    std::vector<std::pair<int, uint64_t>> m_vecPolled;
};

}  // namespace orvane::platform
