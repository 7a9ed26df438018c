#include "platform/thread.h"

#include <windows.h>

#include <process.h>

#include <chrono>
#include <cstdio>
#include <exception>
#include <thread>

// A thread handle lives in the header's opaque slot: HANDLE is a pointer.
static_assert(sizeof(uintptr_t) == sizeof(HANDLE), "a thread handle fits the handle slot");

namespace orvane::platform {

namespace {

HANDLE AsHandle(uintptr_t value) {
    return reinterpret_cast<HANDLE>(value);
}

}  // namespace

struct Thread::Launch {
    std::function<int()> body;
    std::shared_ptr<State> state;
    ThreadPriority priority;
};

Thread::~Thread() {
    Release();
}

Thread::Thread(Thread&& other) noexcept
    : m_thread(other.m_thread), m_bJoinable(other.m_bJoinable), m_state(std::move(other.m_state)) {
    other.m_bJoinable = false;
    other.m_thread = 0;
}

Thread& Thread::operator=(Thread&& other) noexcept {
    if (this != &other) {
        Release();
        m_thread = other.m_thread;
        m_bJoinable = other.m_bJoinable;
        m_state = std::move(other.m_state);
        other.m_bJoinable = false;
        other.m_thread = 0;
    }
    return *this;
}

// Closing the handle of a running thread detaches it: the thread runs on and its end is still
// announced through the shared state.
void Thread::Release() {
    if (!m_bJoinable) {
        return;
    }
    m_bJoinable = false;
    ::CloseHandle(AsHandle(m_thread));
    m_thread = 0;
}

void* Thread::Run(void* arg) {
    std::unique_ptr<Launch> launch(static_cast<Launch*>(arg));
    if (launch->priority == ThreadPriority::kHighest) {
        // Highest within the process's normal class: never a real-time class, so a flood of
        // work for such threads cannot starve the rest of the machine.
        ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_HIGHEST);
    }
    int result = kEndedByException;
    try {
        result = launch->body();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "thread %d ended by an exception: %s\n", CurrentThreadId(), e.what());
    } catch (...) {
        std::fprintf(stderr, "thread %d ended by an exception\n", CurrentThreadId());
    }
    std::shared_ptr<State> state = std::move(launch->state);
    launch.reset();
    std::lock_guard<std::mutex> lock(state->mutex);
    state->result = result;
    state->done = true;
    state->ended.notify_all();
    return nullptr;
}

bool Thread::Start(std::function<int()> body, ThreadOptions options) {
    Release();
    std::unique_ptr<Launch> launch;
    try {
        launch.reset(new Launch{std::move(body), std::make_shared<State>(), options.priority});
    } catch (const std::bad_alloc&) {
        return false;
    }
    std::shared_ptr<State> state = launch->state;
    auto entry = [](void* arg) -> unsigned {
        Run(arg);
        return 0;
    };
    // The size given is reserved address space, not committed memory (as on Linux).
    const uintptr_t handle =
        ::_beginthreadex(nullptr, static_cast<unsigned>(options.stackBytes), entry, launch.get(),
                         options.stackBytes > 0 ? STACK_SIZE_PARAM_IS_A_RESERVATION : 0, nullptr);
    if (handle == 0) {
        return false;
    }
    launch.release();  // the new thread owns it now
    m_thread = handle;
    m_bJoinable = true;
    m_state = std::move(state);
    return true;
}

bool Thread::Wait(int timeoutMs) {
    if (!m_bJoinable) {
        return true;
    }
    {
        std::unique_lock<std::mutex> lock(m_state->mutex);
        if (!m_state->ended.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                     [this] { return m_state->done; })) {
            return false;
        }
    }
    ::WaitForSingleObject(AsHandle(m_thread), INFINITE);
    ::CloseHandle(AsHandle(m_thread));
    m_thread = 0;
    m_bJoinable = false;
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

void SleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void LowerCurrentThreadPriority() {
    ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL);
}

int CurrentThreadId() {
    return static_cast<int>(::GetCurrentThreadId());
}

size_t CurrentThreadStackBytes() {
    ULONG_PTR low = 0;
    ULONG_PTR high = 0;
    ::GetCurrentThreadStackLimits(&low, &high);
    return static_cast<size_t>(high - low);
}

}  // namespace orvane::platform
