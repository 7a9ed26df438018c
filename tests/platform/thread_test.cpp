#include "platform/thread.h"

#include <gtest/gtest.h>

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
