#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <optional>

namespace orvane::platform {

// A thread's message queue: any thread posts, one thread takes in posting order.
// Messages still queued when the queue is destroyed are destroyed with it.
template <typename T>
class MessageQueue {
  public:
    MessageQueue() = default;
    // At most `limit` messages wait at a time: senders that outrun the taker are refused
    // rather than growing the queue without end.
    explicit MessageQueue(size_t limit) : m_limit(limit) {}

    // Appends the message; false when `limit` messages wait already (the message is then
    // destroyed here).
    bool Post(T message) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_queue.size() >= m_limit) {
                return false;
            }
            m_queue.push_back(std::move(message));
        }
        m_ready.notify_one();
        return true;
    }

    // Appends even to a full queue: for the few messages the queue's owner paces itself (an
    // order to stop), which must not be lost behind a flood.
    void PostPastLimit(T message) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_queue.push_back(std::move(message));
        }
        m_ready.notify_one();
    }

    // Blocks until a message is there.
    T Get() {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_ready.wait(lock, [this] { return !m_queue.empty(); });
        T message = std::move(m_queue.front());
        m_queue.pop_front();
        return message;
    }

    // Waits up to timeoutMs; empty when nothing came.
    std::optional<T> GetFor(int timeoutMs) {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (!m_ready.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [this] { return !m_queue.empty(); })) {
            return std::nullopt;
        }
        T message = std::move(m_queue.front());
        m_queue.pop_front();
        return message;
    }

    void Clear() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_queue.clear();
    }

    size_t Size() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_queue.size();
    }

  private:
    const size_t m_limit = static_cast<size_t>(-1);
    mutable std::mutex m_mutex;
    std::condition_variable m_ready;
    std::deque<T> m_queue;
};

}  // namespace orvane::platform
