#pragma once

#include <condition_variable>
#include <initializer_list>
#include <mutex>

namespace orvane::platform {

// An auto-reset event that can be waited on alone or together with sockets: Set wakes one
// wait, which consumes it. Sets that pile up before a wait wake it once.
class WakeEvent {
  public:
    WakeEvent();
    ~WakeEvent();
    WakeEvent(const WakeEvent&) = delete;
    WakeEvent& operator=(const WakeEvent&) = delete;

    bool IsValid() const { return m_iFd >= 0; }
    void Set();
    // Waits up to timeoutMs (negative: without limit); true when the event was set (and is now
    // reset), false on time-out.
    bool Wait(int timeoutMs);
    // Resets the event without waiting; true when it was set.
    bool Consume();
    int Handle() const { return m_iFd; }

  private:
    int m_iFd = -1;
};

// Waits up to timeoutMs (negative: without limit) until one of the handles (sockets, events) is
// readable: the index of the first ready handle, -1 on time-out, -2 when the wait failed (the
// errno is left for the caller).
int WaitForAny(std::initializer_list<int> handles, int timeoutMs);

}  // namespace orvane::platform

namespace orvane::platform {

// An auto-reset event for threads of this process only (no handle to wait on with sockets);
// what the setter wrote before Set is visible to the thread that the wait releases.
class AutoResetEvent {
  public:
    void Set();
    // Waits without limit; consumes the event.
    void Wait();

  private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_bSet = false;
};

}  // namespace orvane::platform
