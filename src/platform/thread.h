#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace orvane::platform {

// A thread whose end can be awaited with a time limit. A thread that misses its wait is left
// running, never killed; if the handle is dropped while it still runs, it is detached, so the
// code it runs must not outlive what it points to (the engine waits for its threads at Stop).
class Thread {
  public:
    Thread() = default;
    ~Thread();
    Thread(Thread&&) noexcept = default;
    Thread& operator=(Thread&& other) noexcept;
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    // Starts `body` on a new thread. False (and nothing started) when the system refuses.
    bool Start(std::function<int()> body);

    // Waits up to timeoutMs for the thread to end; true when it has ended (and is joined).
    bool Wait(int timeoutMs);
    bool IsStarted() const { return m_thread.joinable(); }
    bool HasEnded() const;
    int Result() const;

    // Best effort: raises the thread's scheduling priority where the process may.
    void SetHighestPriority();

  private:
    struct State {
        std::mutex mutex;
        std::condition_variable ended;
        bool done = false;
        int result = 0;
    };
    void Release();

    std::thread m_thread;
    std::shared_ptr<State> m_state;
};

void SleepMs(int ms);

// Best effort: runs the calling thread one step below normal priority.
void LowerCurrentThreadPriority();

// An id of the calling thread for log lines.
int CurrentThreadId();

}  // namespace orvane::platform
