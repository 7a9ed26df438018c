#include "platform/thread.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <stdexcept>

#include "platform/message_queue.h"

namespace orvane::platform {
namespace {

// Catches a timed wait that blocks until the thread ends, reports a running thread as ended,
// or an exception escaping a thread body and ending the process.
TEST(ThreadTest, WaitReportsWhetherTheThreadEndedInTime) {
    std::mutex gate;
    std::unique_lock<std::mutex> held(gate);
    Thread t;
    ASSERT_TRUE(t.Start([&] {
        std::lock_guard<std::mutex> lock(gate);
        return 42;
    }));
    EXPECT_FALSE(t.Wait(20));
    EXPECT_FALSE(t.HasEnded());
    held.unlock();
    EXPECT_TRUE(t.Wait(5000));
    EXPECT_EQ(t.Result(), 42);

    ASSERT_TRUE(t.Start([]() -> int { throw std::runtime_error("no memory"); }));
    EXPECT_TRUE(t.Wait(5000));
    EXPECT_EQ(t.Result(), Thread::kEndedByException);
}

struct Sched {
    int policy = -1;
    int nice = 0;
    size_t stack = 0;
};

Sched Observe() {
    Sched s;
    s.policy = sched_getscheduler(0);
    s.nice = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
    pthread_attr_t attr;
    if (pthread_getattr_np(pthread_self(), &attr) == 0) {
        pthread_attr_getstacksize(&attr, &s.stack);
        pthread_attr_destroy(&attr);
    }
    return s;
}

// Catches "highest priority" mapped to a real-time policy (a flood of such threads starves
// every other process), a normal thread inheriting its creator's raised priority, and a
// requested stack size that is not applied.
TEST(ThreadTest, PriorityIsANiceValueAndStackSizeIsApplied) {
    const int processNice = getpriority(PRIO_PROCESS, static_cast<id_t>(getpid()));
    const bool mayRaise = geteuid() == 0;
    Sched high;
    Sched normalChild;
    Thread t;
    ASSERT_TRUE(t.Start(
        [&] {
            high = Observe();
            Thread child;
            child.Start([&] {
                normalChild = Observe();
                return 0;
            });
            child.Wait(5000);
            return 0;
        },
        {256 * 1024, ThreadPriority::kHighest}));
    ASSERT_TRUE(t.Wait(5000));
    EXPECT_EQ(high.policy, SCHED_OTHER);
    EXPECT_EQ(high.nice, mayRaise ? processNice - 2 : processNice);
    EXPECT_LT(high.stack, 1u << 20);  // not the 8 MiB default (sanitizers add a little)
    EXPECT_EQ(normalChild.policy, SCHED_OTHER);
    EXPECT_EQ(normalChild.nice, processNice);
}

// Catches a queue that reorders messages or loses them, or grows past its limit (a control
// message still passes a full queue).
TEST(MessageQueueTest, DeliversInPostingOrderWithinItsLimit) {
    MessageQueue<int> q(1000);
    Thread producer;
    ASSERT_TRUE(producer.Start([&] {
        for (int i = 0; i < 1000; ++i) {
            q.Post(i);
        }
        return 0;
    }));
    EXPECT_TRUE(producer.Wait(5000));
    EXPECT_FALSE(q.Post(1000));
    q.PostPastLimit(-1);
    for (int i = 0; i < 1000; ++i) {
        ASSERT_EQ(q.Get(), i);
    }
    EXPECT_EQ(q.Get(), -1);
    EXPECT_FALSE(q.GetFor(1).has_value());
}

}  // namespace
}  // namespace orvane::platform
