#include "platform/thread.h"

#include <gtest/gtest.h>

#include <atomic>

#include "platform/message_queue.h"

namespace orvane::platform {
namespace {

// Catches a timed wait that blocks until the thread ends, or reports a running thread as ended.
TEST(ThreadTest, WaitReportsWhetherTheThreadEndedInTime) {
    std::atomic<bool> release{false};
    Thread t;
    ASSERT_TRUE(t.Start([&] {
        while (!release.load()) {
            SleepMs(1);
        }
        return 42;
    }));
    EXPECT_FALSE(t.Wait(20));
    EXPECT_FALSE(t.HasEnded());
    release = true;
    EXPECT_TRUE(t.Wait(5000));
    EXPECT_EQ(t.Result(), 42);
}

// Catches a queue that reorders messages or loses them.
TEST(MessageQueueTest, DeliversInPostingOrderAcrossThreads) {
    MessageQueue<int> q;
    Thread producer;
    ASSERT_TRUE(producer.Start([&] {
        for (int i = 0; i < 1000; ++i) {
            q.Post(i);
        }
        return 0;
    }));
    for (int i = 0; i < 1000; ++i) {
        ASSERT_EQ(q.Get(), i);
    }
    EXPECT_TRUE(producer.Wait(5000));
    EXPECT_FALSE(q.GetFor(1).has_value());
}

}  // namespace
}  // namespace orvane::platform
