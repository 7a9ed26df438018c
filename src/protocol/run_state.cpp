#include "protocol/run_state.h"

#include <cstring>
#include <exception>

#include "support/log.h"

namespace orvane {

bool RunState::StartThread(platform::Thread& handle, const char* name,
                           std::function<int(RunState& run)> body,
                           platform::ThreadOptions options) {
    ThreadBegins();
    bool started = false;
    try {
        RunToken token = shared_from_this();
        started = handle.Start(
            [token, name, body = std::move(body)]() {
                int result = -1;
                try {
                    result = body(*token);
                } catch (const std::exception& e) {
                    WriteLog(kLogMajor, "%s ended by an exception: %s", name, e.what());
                } catch (...) {
                    WriteLog(kLogMajor, "%s ended by an exception", name);
                }
                token->ThreadEnds();  // the thread's last use of the engine
                return result;
            },
            options);
    } catch (const std::exception&) {
        started = false;  // no memory for the thread's closure
    }
    if (!started) {
        ThreadEnds();
    }
    return started;
}

bool RunState::Post(unsigned message, std::unique_ptr<MsgParam> param) {
    if (message == WM_QUIT_DISPATCH) {
        queue.PostPastLimit(DispatchMessage{message, nullptr});
        return true;
    }
    if (!IsRunning()) {
        return false;
    }
    if (message == WM_OTHRE_MSG) {
        return queue.Post(DispatchMessage{message, std::move(param)});
    }
    // A rescan order is paced by its sender and must not be lost behind a report flood.
    queue.PostPastLimit(DispatchMessage{message, std::move(param)});
    return true;
}

void RunState::End() {
    {
        std::lock_guard<std::mutex> lock(csWorkers);
        running = 0;
    }
    cvWorkers.notify_all();
    stopEvent.Set();
}

void RunState::WaitWorkerFinished(int timeoutMs) {
    std::unique_lock<std::mutex> lock(csWorkers);
    cvWorkers.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                       [this] { return workerFinished || !IsRunning(); });
    workerFinished = false;
}

void RunState::WorkerFinished() {
    {
        std::lock_guard<std::mutex> lock(csWorkers);
        workerFinished = true;
    }
    cvWorkers.notify_all();
}

bool RunState::TakeWaitingOrFinish(ThreadInfo& info) {
    std::lock_guard<std::mutex> lock(csWorkers);
    if (!waiting.empty() && IsRunning()) {
        std::memcpy(info.text, waiting.front().text, sizeof info.text);
        info.sequence = waiting.front().sequence;
        waiting.pop_front();
        return true;
    }
    info.running = 0;  // the worker's last access to its record
    return false;
}

std::list<std::unique_ptr<ThreadInfo>> RunState::TakeFinishedWorkers() {
    std::list<std::unique_ptr<ThreadInfo>> done;
    std::lock_guard<std::mutex> lock(csWorkers);
    for (auto it = workers.begin(); it != workers.end();) {
        auto next = std::next(it);
        if ((*it)->running.load() == 0) {
            done.splice(done.end(), workers, it);  // moves the node: nothing to allocate
        }
        it = next;
    }
    return done;
}

size_t RunState::WaitWorkersFinished(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock<std::mutex> lock(csWorkers);
    auto unfinished = [this] {
        size_t n = 0;
        for (const auto& info : workers) {
            n += info->running.load() != 0 ? 1 : 0;
        }
        return n;
    };
    cvWorkers.wait_until(lock, deadline, [&] { return unfinished() == 0; });
    return unfinished();
}

size_t RunState::WorkerCount() const {
    std::lock_guard<std::mutex> lock(csWorkers);
    return workers.size();
}

void RunState::ThreadBegins() {
    std::lock_guard<std::mutex> lock(m_csThreads);
    ++m_iLiveThreads;
}

void RunState::ThreadEnds() {
    std::lock_guard<std::mutex> lock(m_csThreads);
    --m_iLiveThreads;
    // Notified under the lock: the waiter may free the engine as soon as it sees zero, but
    // not this run, which the ending thread still holds.
    m_cvThreads.notify_all();
}

size_t RunState::LiveThreads() const {
    std::lock_guard<std::mutex> lock(m_csThreads);
    return m_iLiveThreads;
}

bool RunState::WaitThreadsEnded(int timeoutMs) {
    std::unique_lock<std::mutex> lock(m_csThreads);
    auto none = [this] { return m_iLiveThreads == 0; };
    if (timeoutMs < 0) {
        m_cvThreads.wait(lock, none);
        return true;
    }
    return m_cvThreads.wait_for(lock, std::chrono::milliseconds(timeoutMs), none);
}

}  // namespace orvane
