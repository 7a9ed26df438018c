#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

namespace orvane::platform {

// Scheduling of a new thread. "Highest" runs a little ahead of the process's other threads
// under the normal time-sharing policy (a lower nice value), never under a real-time policy:
// a flood of work for such threads must not starve the rest of the machine.
enum class ThreadPriority { kNormal, kHighest };

struct ThreadOptions {
    size_t stackBytes = 0;  // 0: the system's default (8 MiB of address space on Linux)
    ThreadPriority priority = ThreadPriority::kNormal;
};

// The stack the calling thread was given (its reserved size), 0 when unknown.
size_t CurrentThreadStackBytes();

// A thread whose end can be awaited with a time limit. A thread that misses its wait is left
// running, never killed; if the handle is dropped while it still runs, it is detached, so the
// code it runs must not outlive what it points to (the engine waits for its threads).
// An exception escaping `body` ends only that thread: it is written to standard error and the
// thread's result is kEndedByException.
class Thread {
  public:
    static constexpr int kEndedByException = -1000;

    Thread() = default;
    ~Thread();
    Thread(Thread&& other) noexcept;
    Thread& operator=(Thread&& other) noexcept;
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    // Starts `body` on a new thread. False (and nothing started) when the system refuses.
    // `body` and what it holds are destroyed on the new thread before its end is announced.
    bool Start(std::function<int()> body, ThreadOptions options = {});

    // Waits up to timeoutMs for the thread to end; true when it has ended (and is joined).
    bool Wait(int timeoutMs);
    bool IsStarted() const { return m_bJoinable; }
    bool HasEnded() const;
    int Result() const;

  private:
    struct State {
        std::mutex mutex;
        std::condition_variable ended;
        bool done = false;
        int result = 0;
    };
    struct Launch;
    static void* Run(void* launch);
    void Release();

    uintptr_t m_thread{};  // the system's thread handle or id
    bool m_bJoinable = false;
    std::shared_ptr<State> m_state;
};

void SleepMs(int ms);

// Best effort: runs the calling thread one step below normal priority.
void LowerCurrentThreadPriority();

// An id of the calling thread for log lines.
int CurrentThreadId();

}  // namespace orvane::platform
