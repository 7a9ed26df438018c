#include "platform/thread.h"

#include <limits.h>
#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <exception>
#include <thread>

// pthread_t is an integer on glibc: it lives in the header's opaque handle slot.
static_assert(sizeof(pthread_t) <= sizeof(uintptr_t), "a pthread_t fits the handle slot");

namespace orvane::platform {

namespace {

pthread_t AsPthread(uintptr_t value) {
    return static_cast<pthread_t>(value);
}

// Two nice steps ahead of the process: about 1.5 times the CPU share of a normal thread when
// both compete, and no more (a real-time policy would let a flood starve every other process).
constexpr int kHighestNiceSteps = 2;

// On Linux the nice value belongs to each thread and a new thread inherits its creator's, so
// every thread sets its own from the process's value (the main thread's), not its creator's.
void ApplyPriority(ThreadPriority priority) {
    errno = 0;
    const int processNice = getpriority(PRIO_PROCESS, static_cast<id_t>(getpid()));
    if (errno != 0) {
        return;
    }
    int target = processNice;
    if (priority == ThreadPriority::kHighest) {
        target = std::max(processNice - kHighestNiceSteps, -20);
    }
    const id_t self = static_cast<id_t>(gettid());
    errno = 0;
    const int now = getpriority(PRIO_PROCESS, self);
    if (errno == 0 && now != target) {
        // Best effort: without the right to raise priority (not root, no CAP_SYS_NICE) the
        // thread keeps its inherited value, which only costs latency under load.
        setpriority(PRIO_PROCESS, self, target);
    }
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
}

Thread& Thread::operator=(Thread&& other) noexcept {
    if (this != &other) {
        Release();
        m_thread = other.m_thread;
        m_bJoinable = other.m_bJoinable;
        m_state = std::move(other.m_state);
        other.m_bJoinable = false;
    }
    return *this;
}

void Thread::Release() {
    if (!m_bJoinable) {
        return;
    }
    m_bJoinable = false;
    // A thread may drop its own handle (it released the last owner of its record): joining
    // itself would deadlock.
    if (!pthread_equal(AsPthread(m_thread), pthread_self()) && HasEnded()) {
        pthread_join(AsPthread(m_thread), nullptr);
    } else {
        pthread_detach(AsPthread(m_thread));
    }
}

void* Thread::Run(void* arg) {
    std::unique_ptr<Launch> launch(static_cast<Launch*>(arg));
    ApplyPriority(launch->priority);
    int result = kEndedByException;
    try {
        result = launch->body();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "thread %d ended by an exception: %s\n", CurrentThreadId(), e.what());
    } catch (...) {
        std::fprintf(stderr, "thread %d ended by an exception\n", CurrentThreadId());
    }
    std::shared_ptr<State> state = std::move(launch->state);
    // What the body held goes before its end is announced, so a waiter that sees the end may
    // free what those captures pointed to.
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
    pthread_attr_t attr;
    if (pthread_attr_init(&attr) != 0) {
        return false;
    }
    if (options.stackBytes > 0) {
        const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
        size_t bytes = std::max(options.stackBytes, static_cast<size_t>(PTHREAD_STACK_MIN));
        bytes = (bytes + page - 1) / page * page;
        pthread_attr_setstacksize(&attr, bytes);  // on refusal the default stands
    }
    std::shared_ptr<State> state = launch->state;
    pthread_t thread;
    const int rc = pthread_create(&thread, &attr, &Thread::Run, launch.get());
    pthread_attr_destroy(&attr);
    if (rc != 0) {
        return false;
    }
    launch.release();  // the new thread owns it now
    m_thread = static_cast<uintptr_t>(thread);
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
    pthread_join(AsPthread(m_thread), nullptr);
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
    // On Linux the nice value is per thread; +1 is "below normal".
    int now = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), now + 1);
}

int CurrentThreadId() {
    return static_cast<int>(gettid());
}

size_t CurrentThreadStackBytes() {
    pthread_attr_t attr;
    size_t stack = 0;
    if (pthread_getattr_np(pthread_self(), &attr) == 0) {
        pthread_attr_getstacksize(&attr, &stack);
        pthread_attr_destroy(&attr);
    }
    return stack;
}

}  // namespace orvane::platform
