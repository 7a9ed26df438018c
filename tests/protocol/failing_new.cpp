// A replaceable global allocator that fails on request, so tests can reach the out-of-memory
// paths of code that allocates with `new`. Both deletes are replaced with it: a sanitizer's
// own delete would report memory that did not come from its own new.
#include "failing_new.h"

#include <pthread.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<size_t> g_failSize{0};
std::atomic<pthread_t> g_armingThread{};

void* Allocate(size_t size) {
    size_t armed = size;
    if (g_failSize.load(std::memory_order_relaxed) == size &&
        !pthread_equal(g_armingThread.load(), pthread_self()) &&
        g_failSize.compare_exchange_strong(armed, 0)) {
        return nullptr;
    }
    return std::malloc(size == 0 ? 1 : size);
}
}  // namespace

namespace orvane::test {
void FailNextAllocationOf(size_t size) {
    g_armingThread = pthread_self();
    g_failSize = size;
}
}  // namespace orvane::test

void* operator new(size_t size) {
    void* p = Allocate(size);
    if (p == nullptr) {
        throw std::bad_alloc();
    }
    return p;
}

void* operator new(size_t size, const std::nothrow_t&) noexcept {
    return Allocate(size);
}

void operator delete(void* p) noexcept {
    std::free(p);
}

void operator delete(void* p, size_t) noexcept {
    std::free(p);
}

void operator delete(void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
