#include "platform/thread.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>
#include <chrono>

namespace orvane::platform {

Thread::~Thread() {
    Release();
}

Thread& Thread::operator=(Thread&& other) noexcept {
    if (this != &other) {
        Release();
        m_thread = std::move(other.m_thread);
        m_state = std::move(other.m_state);
    }
    return *this;
}

void Thread::Release() {
    if (!m_thread.joinable()) {
        return;
    }
    if (HasEnded()) {
        m_thread.join();
    } else {
        m_thread.detach();
    }
}

bool Thread::Start(std::function<int()> body) {
    Release();
    auto state = std::make_shared<State>();
    try {
        m_thread = std::thread([state, body = std::move(body)]() {
            int r = body();
            std::lock_guard<std::mutex> lock(state->mutex);
            state->result = r;
            state->done = true;
            state->ended.notify_all();
        });
    } catch (const std::system_error&) {
        return false;
    }
    m_state = std::move(state);
    return true;
}

bool Thread::Wait(int timeoutMs) {
    if (!m_thread.joinable()) {
        return true;
    }
    {
        std::unique_lock<std::mutex> lock(m_state->mutex);
        if (!m_state->ended.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                     [this] { return m_state->done; })) {
            return false;
        }
    }
    m_thread.join();
    return true;
}

bool Thread::HasEnded() const {
    if (!m_state) {
        return true;
    }
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return m_state->done;
}

int Thread::Result() const {
    if (!m_state) {
        return 0;
    }
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return m_state->result;
}

void Thread::SetHighestPriority() {
    if (!m_thread.joinable()) {
        return;
    }
    // Real-time scheduling needs privileges; without them the thread keeps its normal
    // priority, which only costs latency under load.
    sched_param param{};
    param.sched_priority = sched_get_priority_min(SCHED_RR);
    pthread_setschedparam(m_thread.native_handle(), SCHED_RR, &param);
}

void SleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace orvane::platform

namespace orvane::platform {

void LowerCurrentThreadPriority() {
    // On Linux the nice value is per thread; +1 is "below normal".
    int now = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), now + 1);
}

int CurrentThreadId() {
    return static_cast<int>(gettid());
}

}  // namespace orvane::platform
