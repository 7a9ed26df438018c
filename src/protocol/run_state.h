#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <memory>
#include <mutex>

#include "platform/message_queue.h"
#include "platform/thread.h"
#include "platform/wake_event.h"
#include "protocol/device_message.h"

namespace orvane {

class DeviceListener;

// Dispatcher thread messages (values kept from the thread-message numbering WM_USER + n).
constexpr unsigned WM_OTHRE_MSG = 0x0400 + 100;      // a datagram for the report handling
constexpr unsigned WM_QUIT_DISPATCH = 0x0400 + 101;  // leave the dispatch loop
constexpr unsigned WM_RESCAN_FOLDER = 0x0400 + 102;  // rebuild the firmware catalogue

// One accepted request. Its run's worker list owns it; only the clean-up thread (or Stop, once
// the clean-up thread has ended) frees it, after the worker has cleared `running` and its
// thread has ended.
struct ThreadInfo {
    std::atomic<int> running{0};
    platform::Thread thread;
    int sequence = 0;
    char text[kMaxDatagram] = {};
    DeviceListener* owner = nullptr;
};

// A request waiting for a worker to be free, with the sequence it was given on arrival.
struct WaitingRequest {
    char text[kMaxDatagram] = {};
    int sequence = 0;
};

// One datagram that is not a request, on its way to the dispatcher (which frees it), with the
// message type the listener found.
struct MsgParam {
    char szRecvBuf[kMaxDatagram] = {};
    int iType = kMsgUnknown;
    DeviceListener* owner = nullptr;
};

struct DispatchMessage {
    unsigned message = 0;
    std::unique_ptr<MsgParam> pMsgParam;
};

// Every count an outsider can drive up has a bound. Request workers: a request that arrives
// while this many are under way waits for the first of them to be free...
constexpr size_t kMaxRequestWorkers = 128;
// ...among at most this many (a shelf powered on at once); one beyond is dropped and the device
// asks again.
constexpr size_t kMaxWaitingRequests = 2048;
// Datagrams waiting for the dispatcher: a report that finds this many is dropped.
constexpr size_t kDispatchQueueLimit = 10000;
// A request worker's stack. Its deepest path (reply texts, the presence probe, a log line)
// needs a few KiB; the system's 8 MiB per thread ran out of address space under a flood.
constexpr size_t kRequestWorkerStack = 256 * 1024;
// Stop's wait for each thread of the service.
constexpr int kThreadWaitMs = 10000;

// One run of the service, from StartService until the last of its threads has ended.
//
// Every thread of a run holds the run (a RunToken) and loops while IsRunning(). What the
// run's threads share lives here, so it stays valid for as long as any of them, whatever the
// engine does meanwhile; and since each run has its own queue, worker list and flag, a thread
// that missed its wait at Stop finishes its own run's work and ends: it never takes a
// message, a request or a worker slot of a later run.
//
// A thread joins a run through StartThread, which counts it here; the engine's destructor
// waits until every run's count is zero.
struct RunState : std::enable_shared_from_this<RunState> {
    explicit RunState(int waitMs) : threadWaitMs(waitMs) {}
    RunState(const RunState&) = delete;
    RunState& operator=(const RunState&) = delete;

    bool IsRunning() const { return running.load() != 0; }
    // Ends the run: every loop sees it at its next check, the listener's wait and the
    // clean-up thread's pause end at once, and no worker joins the run any more.
    void End();

    // Starts `body` as a thread of this run. The thread holds the run until it ends, so its
    // loop runs `while (run.IsRunning())` and reaches only this run's queue however late it
    // ends; an exception escaping `body` ends the thread with a log line naming `name`.
    // Captures of `body` must outlive the thread (the engine's destructor waits for it).
    // False when no thread could be made.
    bool StartThread(platform::Thread& handle, const char* name,
                     std::function<int(RunState& run)> body, platform::ThreadOptions options = {});

    // Queues a message for the dispatcher; false when the run has ended or, for a datagram,
    // kDispatchQueueLimit wait already (the record is then freed).
    bool Post(unsigned message, std::unique_ptr<MsgParam> param = nullptr);

    // The clean-up thread's pause: up to timeoutMs, cut short when a worker finishes or the
    // run ends.
    void WaitWorkerFinished(int timeoutMs);
    // Called by a worker after it cleared its running flag.
    void WorkerFinished();
    // A worker whose request is done takes the next waiting one into its record (true), or
    // else clears its running flag, under one lock: a request that waits always has a worker
    // under way that will take it.
    bool TakeWaitingOrFinish(ThreadInfo& info);
    // Unlinks the records of finished workers and hands them to the caller.
    std::list<std::unique_ptr<ThreadInfo>> TakeFinishedWorkers();
    // Waits until every listed worker has finished or `deadline` passed; how many have not.
    size_t WaitWorkersFinished(std::chrono::steady_clock::time_point deadline);
    size_t WorkerCount() const;

    void ThreadBegins();
    void ThreadEnds();
    size_t LiveThreads() const;
    // Waits up to timeoutMs (negative: without limit) until every thread of the run ended.
    bool WaitThreadsEnded(int timeoutMs);

    const int threadWaitMs;  // Stop's wait for each thread of this run
    std::atomic<int> running{1};
    platform::WakeEvent stopEvent;  // set by End
    platform::MessageQueue<DispatchMessage> queue{kDispatchQueueLimit};

    // Guards the worker list's links and `workerFinished`, and orders End against the
    // listener's "still running, add a worker" step; the records' flags are atomics.
    mutable std::mutex csWorkers;
    std::condition_variable cvWorkers;
    std::list<std::unique_ptr<ThreadInfo>> workers;
    std::deque<WaitingRequest> waiting;  // at most kMaxWaitingRequests
    bool workerFinished = false;
    // The listener's own: requests dropped since the last line that told of it, and when
    // that line was written (monotonic ms, 0 never).
    int iDroppedRequests = 0;
    int64_t iLastDropLineMs = 0;

  private:
    mutable std::mutex m_csThreads;
    std::condition_variable m_cvThreads;
    size_t m_iLiveThreads = 0;
};

using RunToken = std::shared_ptr<RunState>;

}  // namespace orvane
