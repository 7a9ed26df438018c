#include "protocol/device_listener.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "platform/clock.h"
#include "platform/udp_socket.h"
#include "platform/wake_event.h"
#include "protocol/service_view.h"
#include "support/language.h"
#include "support/log.h"
#include "support/text_ids.h"

namespace orvane {

namespace {
constexpr int kListenWaitMs = 2000;
constexpr int64_t kDropLineIntervalMs = 1000;
constexpr int kFailedWaitPauseMs = 200;
constexpr int kDatagramsPerWake = 64;  // then Stop and the wait have their turn again
constexpr int kListenReceiveBuffer = 1 << 20;
// Empty datagrams and a full report queue are anyone's to cause: one line a second per kind.
LogRateLimit g_receiveErrorLines;
LogRateLimit g_postFailedLines;
}  // namespace

DeviceListener::DeviceListener(const std::string& localIP, const std::atomic<int>& pauseTest,
                               ServiceView& view, EngineCounters& counters,
                               RequestHandling handleRequest)
    : m_szLocalIP(localIP),
      m_bPauseTest(pauseTest),
      m_view(view),
      m_counters(counters),
      m_handleRequest(std::move(handleRequest)) {}

void DeviceListener::BeginRun() {
    m_iRequestSeq = 0;
    SetListenState(0);
}

int DeviceListener::ListenIPCPortProc(RunState& run) {
    platform::UdpSocket sock;
    if (!sock.Open()) {
        WriteLog(kLogMajor, "ListenIPCPortProc socket failed,return -4");
        SetListenState(-1);
        return -4;
    }
    platform::Endpoint local;
    bool bound = sock.SetNonBlocking(true) && sock.SetReuseAddress() &&
                 platform::Endpoint::Parse(m_szLocalIP, kListenPort, &local) && sock.Bind(local);
    // Room for a crowd's burst of reports (Windows gives a socket 64 KiB; Linux caps this at
    // its rmem_max). A smaller buffer only costs datagrams under a burst: no failure.
    sock.SetReceiveBuffer(kListenReceiveBuffer);
    if (!bound) {
        WriteLog(kLogMajor, "ListenIPCPortProc bind error, iRet=%d, WSAGetLastError=%d", -1,
                 sock.LastError());
        sock.Close();
        SetListenState(-1);
        m_view.ShowErrorText(kTextBindFailed);
        return -3;
    }
    SetListenState(1);

    char szRecvBuf[kMaxDatagram];
    while (run.IsRunning()) {
        // Stop wakes the wait at once instead of leaving the port bound for up to 2 s.
        int ready = platform::WaitForAny({sock.Handle(), run.stopEvent.Handle()}, kListenWaitMs);
        if (ready == -2) {
            WriteLog(kLogMajor, "ListenIPCPortProc select iRet=%d,WSAGetLastError=%d", -1, errno);
            platform::SleepMs(kFailedWaitPauseMs);  // a wait that keeps failing must not spin
            continue;
        }
        if (ready != 0) {
            continue;  // timed out, or the run ended
        }
        // Everything queued is read before the next wait: a crowd reports in bursts, and a
        // wait per datagram (dearer on Windows) lets the socket's buffer overflow meanwhile.
        for (int i = 0; i < kDatagramsPerWake && run.IsRunning(); ++i) {
            std::memset(szRecvBuf, 0, sizeof szRecvBuf);
            // One byte stays zero so the text is always terminated; a longer datagram is cut.
            long n = sock.ReceiveFrom(szRecvBuf, sizeof szRecvBuf - 1, nullptr);
            if (n < 0 && platform::ClassifySocketError(sock.LastError()) ==
                             platform::SocketErrorKind::kWouldBlock) {
                break;
            }
            if (n <= 0) {
                WriteLogLimited(g_receiveErrorLines, kLogMajor,
                                "ListenIPCPortProc recvfrom error, iRet=%d, WSAGetLastError=%d", 1,
                                n < 0 ? sock.LastError() : 0);
                break;
            }
            WriteLog(kLogInfo, "#QMDebug ListenIPCPortProc recvfrom szRecvBuf=%s", szRecvBuf);
            if (m_bPauseTest.load()) {
                WriteLog(kLogInfo, "#QMDebug m_bPauseTest = true, continue");
                continue;
            }
            // Classified once, here: a worker only ever gets a request, the dispatcher the rest.
            const int type = GetMsgType(szRecvBuf);
            if (type == kMsgRequestIpaddr) {
                StartRequestWorker(run, szRecvBuf);
            } else {
                PostDatagram(run, szRecvBuf, type);
            }
        }
    }
    sock.Close();
    WriteLog(kLogInfo, "end ListenIPCPortProc");
    return 0;
}

// Hands one request to a worker of its own; when kMaxRequestWorkers are under way already it
// waits for the first of them to be free (up to kMaxWaitingRequests waiting).
// Nothing that fails here ends the listener: the request is dropped with a log line and the device
// asks again.
void DeviceListener::StartRequestWorker(RunState& run, const char* text) {
    // The bound is on requests in progress. A worker that has finished but is not reaped yet
    // (the clean-up thread, under a crowd, comes round to it a little later) holds none: when
    // such workers fill the list, they leave it here. Their threads have cleared their flag, so
    // each join is a moment; only this thread appends, so the room stays until below.
    if (run.WorkerCount() >= kMaxRequestWorkers) {
        ReapFinishedWorkers(run);
    }
    std::lock_guard<std::mutex> lock(run.csWorkers);
    if (!run.IsRunning()) {
        return;  // Stop has begun: a worker now would outlive the run's clean-up
    }
    // Only while a worker is under way: it looks for waiting requests under this lock before
    // it ends, so none is left behind.
    const bool underWay = std::any_of(run.workers.begin(), run.workers.end(),
                                      [](const auto& w) { return w->running.load() != 0; });
    if (run.workers.size() >= kMaxRequestWorkers && underWay &&
        run.waiting.size() < kMaxWaitingRequests) {
        // Every worker is taken: the first one free takes it, within moments.
        try {
            run.waiting.emplace_back();
        } catch (const std::bad_alloc&) {
            WriteLog(kLogMajor, "Malloc thread information buffer fail");
            return;
        }
        std::memcpy(run.waiting.back().text, text, sizeof run.waiting.back().text);
        run.waiting.back().sequence = ++m_iRequestSeq;
        ++m_counters.requests;
        return;
    }
    if (run.workers.size() >= kMaxRequestWorkers) {
        ++run.iDroppedRequests;
        ++m_counters.requestsDropped;
        LogDroppedRequests(run);
        return;
    }
    ThreadInfo* info = nullptr;
    try {
        // The record goes into the list before its thread starts, so the worker never runs on
        // a record nobody owns; the clean-up thread skips it while running is 1.
        run.workers.push_back(std::make_unique<ThreadInfo>());
        info = run.workers.back().get();
    } catch (const std::bad_alloc&) {
        WriteLog(kLogMajor, "Malloc thread information buffer fail");
        return;
    }
    info->running = 1;
    info->owner = this;
    std::memcpy(info->text, text, sizeof info->text);
    info->sequence = ++m_iRequestSeq;
    const bool started = run.StartThread(info->thread, "RequestIpMsgProc",
                                         [this, info](RunState& r) {
                                             int result = RequestIpMsgProc(info);
                                             while (r.TakeWaitingOrFinish(*info)) {
                                                 RequestIpMsgProc(info);
                                             }
                                             r.WorkerFinished();
                                             return result;
                                         },
                                         {kRequestWorkerStack, platform::ThreadPriority::kHighest});
    if (!started) {
        run.workers.pop_back();
        WriteLog(kLogMajor, "Create RequestIpMsgProc Thread fail");
        return;
    }
    ++m_counters.requests;
    WriteLog(kLogInfo, "Create RequestIpMsgProc Thread, handle %p", static_cast<void*>(info));
    if (run.iDroppedRequests > 0) {
        LogDroppedRequests(run);  // the tail of the last burst
    }
}

// A flood keeps the workers busy for as long as it lasts: one line a second at most tells of
// the drops, so it does not turn into a flood of log lines.
void DeviceListener::LogDroppedRequests(RunState& run) {
    const int64_t now = platform::MonotonicMs();
    if (run.iLastDropLineMs != 0 && now - run.iLastDropLineMs < kDropLineIntervalMs) {
        return;
    }
    WriteLog(kLogMajor,
             "ListenIPCPortProc %zu RequestIpMsgProc threads running: request dropped (%d since "
             "the last such line)",
             run.workers.size(), run.iDroppedRequests);
    run.iDroppedRequests = 0;
    run.iLastDropLineMs = now;
}

void DeviceListener::PostDatagram(RunState& run, const char* text, int type) {
    std::unique_ptr<MsgParam> param;
    try {
        param = std::make_unique<MsgParam>();
    } catch (const std::bad_alloc&) {
        WriteLog(kLogMajor, "Malloc msg buffer fail");
        return;
    }
    param->owner = this;
    param->iType = type;
    std::memcpy(param->szRecvBuf, text, kMaxDatagram - 1);
    WriteLog(kLogInfo,
             "#QMDebug ListenIPCPortProc Begin PostThreadMessage(WM_OTHRE_MSG), "
             "pMsgParam.szRecvBuf=%s",
             param->szRecvBuf);
    bool posted = false;
    try {
        posted = run.Post(WM_OTHRE_MSG, std::move(param));
    } catch (const std::bad_alloc&) {
        posted = false;  // the queue could not grow; the record went with the message
    }
    if (!posted) {
        ++m_counters.reportsDropped;
        WriteLogLimited(g_postFailedLines, kLogGeneral, "PostThreadMessage fail");
    }
}

int DeviceListener::RequestIpMsgProc(ThreadInfo* info) {
    const int seq = info->sequence;
    try {
        SetThreadUiLanguage(g_iLanguage == kLanguageChinese ? kLanguageChinese : kLanguageEnglish);
        const std::string text(info->text);
        if (text.empty()) {
            WriteLog(kLogInfo, "*%d* Enter RequestIpMsgProc!", seq);
        } else {
            WriteLog(kLogInfo, "*%d* Enter RequestIpMsgProc,message %s!", seq, text.c_str());
        }
        m_handleRequest(text, seq);
    } catch (const std::exception& e) {
        // Out of memory, most likely: this request ends, the service goes on.
        WriteLog(kLogMajor, "*%d* RequestIpMsgProc ended by an exception: %s", seq, e.what());
    }
    return 0;
}

// Workers the clean-up thread did not reap yet. They share one deadline, so k stuck workers
// hold Stop up for one wait, not k. A worker still running keeps its record: the run, which
// the worker holds, frees it after the worker's end.
void DeviceListener::StopWorkers(RunState& run) {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(run.threadWaitMs);
    const size_t stuck = run.WaitWorkersFinished(deadline);
    for (auto& done : run.TakeFinishedWorkers()) {
        done->thread.Wait(run.threadWaitMs);  // it has cleared its flag: its end is at hand
    }
    if (stuck > 0) {
        WriteLog(kLogMajor, "StopService %zu RequestIpMsgProc threads did not end within %d ms",
                 stuck, run.threadWaitMs);
    }
}

// Also called by the listener when the list is full (so a finished worker never costs a
// request while the clean-up thread has not come round to it yet).
void DeviceListener::ReapFinishedWorkers(RunState& run) {
    // Unlinked under the worker-list lock, joined outside it: waiting for a thread must not
    // hold up the listener, which appends under that lock.
    for (auto& done : run.TakeFinishedWorkers()) {
        WriteLog(kLogInfo, "Clean RequestIpMsgProc Thread, handle %p",
                 static_cast<void*>(done.get()));
        done->thread.Wait(kThreadWaitMs);
    }
}

void DeviceListener::SetListenState(int state) {
    {
        std::lock_guard<std::mutex> lock(m_csListenState);
        m_iListenState = state;
    }
    m_cvListenState.notify_all();
}

int DeviceListener::WaitListening(int timeoutMs) {
    std::unique_lock<std::mutex> lock(m_csListenState);
    m_cvListenState.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [this] { return m_iListenState != 0; });
    return m_iListenState;
}

}  // namespace orvane
