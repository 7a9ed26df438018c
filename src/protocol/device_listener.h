#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>

#include "protocol/engine_counters.h"
#include "protocol/run_state.h"

namespace orvane {

class ServiceView;

// The device listener on port 10011 and the request workers it starts: each request gets a
// worker of its own (or waits for one), every other datagram goes to the run's dispatcher.
class DeviceListener {
  public:
    // Handles one request on its worker thread; `sequence` numbers its log lines.
    using RequestHandling = std::function<void(const std::string& text, int sequence)>;

    // `localIP` (m_szLocalIP) and `pauseTest` (m_bPauseTest) are the engine's, read live.
    DeviceListener(const std::string& localIP, const std::atomic<int>& pauseTest, ServiceView& view,
                   EngineCounters& counters, RequestHandling handleRequest);
    DeviceListener(const DeviceListener&) = delete;
    DeviceListener& operator=(const DeviceListener&) = delete;

    // Readies a new run: requests numbered from 1 again, the port not yet bound.
    void BeginRun();
    // The thread's body for one run.
    int ListenIPCPortProc(RunState& run);
    // Joins the workers that have finished (the clean-up thread, and the listener itself when
    // the list is full).
    void ReapFinishedWorkers(RunState& run);
    // Stop's wait for the workers the clean-up thread did not reap.
    void StopWorkers(RunState& run);

    // Waits until the port is bound: 1 listening, -1 it failed, 0 still pending after
    // timeoutMs.
    int WaitListening(int timeoutMs);
    int RequestSeq() const { return m_iRequestSeq.load(); }

  private:
    void StartRequestWorker(RunState& run, const char* text);
    void LogDroppedRequests(RunState& run);
    void PostDatagram(RunState& run, const char* text, int type);
    int RequestIpMsgProc(ThreadInfo* info);
    void SetListenState(int state);

    const std::string& m_szLocalIP;
    const std::atomic<int>& m_bPauseTest;
    ServiceView& m_view;
    EngineCounters& m_counters;
    const RequestHandling m_handleRequest;
    // Changed by the listener only (and reset by BeginRun); atomic so readers see whole values.
    std::atomic<int> m_iRequestSeq{0};

    std::mutex m_csListenState;
    std::condition_variable m_cvListenState;
    int m_iListenState = 0;  // 0 not yet bound, 1 listening, -1 bind failed
};

}  // namespace orvane
