#include "protocol/orvane_engine.h"

#include <algorithm>
#include <chrono>

#include "firmware/folder_watcher.h"
#include "firmware/upgrade_catalogue.h"
#include "platform/folder_watch.h"
#include "protocol/service_view.h"
#include "support/language.h"
#include "support/log.h"

namespace orvane {

namespace {
constexpr int kWatcherWaitMs = 1000;
}  // namespace

OrvaneEngine::OrvaneEngine(ServiceView& view)
    : m_view(view), m_deviceTable(view), m_ipAllocator([this] { return m_view.IsIpCheck(); }) {
    m_deviceTable.AddObserver(&m_batch);
    m_batch.SetHaltHandler([this](int failures) {
        WriteLog(kLogMajor, "Halted after %d failures: no new device is answered until Start",
                 failures);
        m_view.OnRunHalted(BatchNote());
    });
}

OrvaneEngine::~OrvaneEngine() {
    StopService();
    WaitEndedRuns("~OrvaneEngine");
    m_deviceTable.RemoveObserver(&m_batch);
}

bool OrvaneEngine::StartService(const ServiceConfig& config) {
    if (IsRunning()) {
        return true;
    }
    ApplyRunSettings(config);
    m_batch.BeginRun(m_batchSettings);
    m_bPauseTest = 0;
    m_iRequestSeq = 0;
    SetListenState(0);
    const RunToken run = std::make_shared<RunState>(config.iThreadWaitMs);
    {
        std::lock_guard<std::mutex> lock(m_csRun);
        m_run = run;
    }

    StartTftpService(config);

    RebuildCatalogue();

    m_bStartUpgrade = 1;
    // The dispatcher must exist before the listener can post to it.
    bool ok = StartThreadOf(*run, m_hCleanThread, "CleanThreadProc",
                            [this](RunState& r) { return CleanThreadProc(r); }, {}) &&
              StartThreadOf(*run, m_hOtherRecvMsgHnd, "DispatchMsgProc",
                            [this](RunState& r) { return DispatchMsgProc(r); }, {});
    if (ok) {
        platform::SleepMs(20);
        ok = StartThreadOf(*run, m_hListenThread, "ListenIPCPortProc",
                           [this](RunState& r) { return ListenIPCPortProc(r); },
                           {0, platform::ThreadPriority::kHighest});
    }
    if (!ok) {
        WriteLog(kLogMajor, "StartService create thread failed");
        StopService();
        return false;
    }

    StartCloudThread();

    StartFolderWatcher();
    return true;
}

// The settings are read without a lock by the run's threads, and also by threads of a stopped
// run that missed their waits: a setting that changes waits until those have ended, so no
// thread ever reads a text while it is rewritten.
void OrvaneEngine::ApplyRunSettings(const ServiceConfig& config) {
    const std::string localIP = config.szLocalIP.substr(0, 63);
    if (localIP != m_szLocalIP || config.szLocalMac != m_szLocalMac ||
        config.szUpgradeFolder != m_szUpgradeFolder) {
        WaitEndedRuns("StartService");
        m_szLocalIP = localIP;
        m_szLocalMac = config.szLocalMac;
        m_szUpgradeFolder = config.szUpgradeFolder;
    }
    {
        std::lock_guard<std::mutex> lock(m_csUpgradeFileInfo);
        m_trust.SetKey(config.szTrustKey);
    }
    // The Start command forms the cursor before its MAC lookup; forming it again here keeps
    // an engine started on its own on the same walk.
    m_ipAllocator.SetNextIP(MakeAllocationCursor(m_szLocalIP));
}

void OrvaneEngine::StopService() {
    const RunToken run = CurrentRun();
    // Cleared first, so no new request is answered with a file the stopping TFTP service will
    // no longer serve.
    m_bStartUpgrade = 0;
    if (!run) {
        return;
    }
    run->End();
    StopTftpService();

    PostDispatchMessage(*run, WM_QUIT_DISPATCH);
    WaitRunThread(m_hOtherRecvMsgHnd, "DispatchMsgProc");
    WaitRunThread(m_hListenThread, "ListenIPCPortProc");
    WaitRunThread(m_hCleanThread, "CleanThreadProc");
    StopWorkers(*run);
    // Datagrams still queued for the dispatcher are released with their records.
    run->queue.Clear();

    StopCloudThread();

    StopFolderWatcher();

    std::lock_guard<std::mutex> lock(m_csRun);
    m_run.reset();
    m_vecEndedRuns.erase(std::remove_if(m_vecEndedRuns.begin(), m_vecEndedRuns.end(),
                                        [](const RunToken& r) { return r->LiveThreads() == 0; }),
                         m_vecEndedRuns.end());
    if (run->LiveThreads() > 0) {
        m_vecEndedRuns.push_back(run);
    }
}

// Workers the clean-up thread did not reap yet. They share one deadline, so k stuck workers
// hold Stop up for one wait, not k. A worker still running keeps its record: the run, which
// the worker holds, frees it after the worker's end.
void OrvaneEngine::StopWorkers(RunState& run) {
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

void OrvaneEngine::WaitRunThread(platform::Thread& handle, const char* name) {
    const RunToken run = CurrentRun();
    const int waitMs = run ? run->threadWaitMs : kThreadWaitMs;
    if (handle.IsStarted() && !handle.Wait(waitMs)) {
        WriteLog(kLogMajor, "StopService %s did not end within %d ms", name, waitMs);
    }
    // Forgotten either way: a late thread ends on its own, and is counted in its run.
    handle = platform::Thread();
}

bool OrvaneEngine::StartRunThread(platform::Thread& handle, const char* name,
                                  std::function<int(RunState& run)> body,
                                  platform::ThreadOptions options) {
    const RunToken run = CurrentRun();
    return run && StartThreadOf(*run, handle, name, std::move(body), options);
}

bool OrvaneEngine::StartThreadOf(RunState& run, platform::Thread& handle, const char* name,
                                 std::function<int(RunState& run)> body,
                                 platform::ThreadOptions options) {
    run.ThreadBegins();
    bool started = false;
    try {
        RunToken token = run.shared_from_this();
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
        run.ThreadEnds();
    }
    return started;
}

RunToken OrvaneEngine::CurrentRun() const {
    std::lock_guard<std::mutex> lock(m_csRun);
    return m_run;
}

// Waits, without limit, for the threads of stopped runs: they use this object. Each of them
// ends on its own once its handler returns.
void OrvaneEngine::WaitEndedRuns(const char* who) {
    std::vector<RunToken> runs;
    {
        std::lock_guard<std::mutex> lock(m_csRun);
        runs.swap(m_vecEndedRuns);
    }
    for (const RunToken& run : runs) {
        while (!run->WaitThreadsEnded(kThreadWaitMs)) {
            WriteLog(kLogMajor, "%s waits for %zu threads of a stopped run", who,
                     run->LiveThreads());
        }
    }
}

// The TFTP service serving the upgrade folder on m_szLocalIP.
void OrvaneEngine::StartTftpService(const ServiceConfig& config) {
    TftpSettings settings = config.tftp;
    settings.root = m_szUpgradeFolder;
    settings.bindAddress = m_szLocalIP;
    if (!config.szTrustKey.empty()) {
        settings.vouched = m_vouched;
        // Runs on a transfer's thread, which the service's Stop waits for.
        settings.onRefused = [this](const std::string& peer, const std::string& name) {
            ShowUnvouchedFetch(peer, name);
        };
    }
    m_tftpService.Start(settings);
}

void OrvaneEngine::StopTftpService() {
    m_tftpService.Stop();
}

// The firmware catalogue of the upgrade folder.
void OrvaneEngine::RebuildCatalogue() {
    SaveUpgradeFileInfo(m_szUpgradeFolder);
}

void OrvaneEngine::SaveUpgradeFileInfo(const std::string& folder) {
    orvane::SaveUpgradeFileInfo(m_vecUpgradeFileInfo, m_csUpgradeFileInfo, folder,
                                m_trust.IsOn() ? &m_trust : nullptr);
    {
        std::lock_guard<std::mutex> lock(m_csUpgradeFileInfo);
        PublishVouchedFiles();
        ++m_uCatalogueRebuilds;
    }
    m_cvCatalogueRebuilt.notify_all();
}

void OrvaneEngine::PublishVouchedFiles() {
    m_vouched->Set(m_trust.IsOn(), m_trust.Vouched());
}

void OrvaneEngine::ShowUnvouchedFetch(const std::string& peerAddress, const std::string& fileName) {
    WriteLog(kLogMajor,
             "Firmware %s not sent to %s: it is not the file the signed list vouched for",
             fileName.c_str(), peerAddress.c_str());
    for (IpcInfo record : Devices().Records()) {
        if (record.szIpAddr == peerAddress && !record.szMac.empty()) {
            record.szStatus = g_iLanguage == kLanguageChinese
                                  ? "固件在校验后已被更改，未发送"
                                  : "Firmware changed since its check: not sent";
            Devices().UpdateDeviceTable(record);
        }
    }
}

void OrvaneEngine::WithUpgradeFileInfo(
    const std::function<void(std::vector<UpgradeFileInfo>&)>& fn) {
    std::lock_guard<std::mutex> lock(m_csUpgradeFileInfo);
    fn(m_vecUpgradeFileInfo);
}

std::vector<UpgradeFileInfo> OrvaneEngine::GetUpgradeFileInfo() const {
    std::lock_guard<std::mutex> lock(m_csUpgradeFileInfo);
    return m_vecUpgradeFileInfo;
}

unsigned OrvaneEngine::CatalogueRebuilds() const {
    std::lock_guard<std::mutex> lock(m_csUpgradeFileInfo);
    return m_uCatalogueRebuilds;
}

bool OrvaneEngine::WaitCatalogueRebuilds(unsigned count, int timeoutMs) const {
    std::unique_lock<std::mutex> lock(m_csUpgradeFileInfo);
    return m_cvCatalogueRebuilt.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                         [&] { return m_uCatalogueRebuilds >= count; });
}

// The folder watcher that asks the dispatcher for rescans. It reads the folder box once, as
// it is when the service starts.
void OrvaneEngine::StartFolderWatcher() {
    // Owned by the thread's closure, which may outlive a missed wait at Stop.
    auto watch = std::make_shared<platform::FolderWatch>();
    if (!OpenFolderWatch(m_view.GetUpgradeFolder(), watch.get())) {
        return;  // the catalogue follows no changes until the next Start
    }
    StartRunThread(m_hWatchThread, "WatchDirectory", [this, watch](RunState& run) {
        return WatchDirectory(*watch, run.running,
                              [this, &run] { return PostDispatchMessage(run, WM_RESCAN_FOLDER); });
    });
}

void OrvaneEngine::StopFolderWatcher() {
    if (m_hWatchThread.IsStarted() && !m_hWatchThread.Wait(kWatcherWaitMs)) {
        WriteLog(kLogMajor, "StopService the folder watcher did not end within %d ms",
                 kWatcherWaitMs);
    }
    m_hWatchThread = platform::Thread();
}

bool OrvaneEngine::PostDispatchMessage(RunState& run, unsigned message,
                                       std::unique_ptr<MsgParam> param) {
    if (message == WM_QUIT_DISPATCH) {
        run.queue.PostPastLimit(DispatchMessage{message, nullptr});
        return true;
    }
    if (!run.IsRunning()) {
        return false;
    }
    if (message == WM_OTHRE_MSG) {
        return run.queue.Post(DispatchMessage{message, std::move(param)});
    }
    // A rescan order is paced by its sender and must not be lost behind a report flood.
    run.queue.PostPastLimit(DispatchMessage{message, std::move(param)});
    return true;
}

void OrvaneEngine::SetListenState(int state) {
    {
        std::lock_guard<std::mutex> lock(m_csListenState);
        m_iListenState = state;
    }
    m_cvListenState.notify_all();
}

int OrvaneEngine::WaitListening(int timeoutMs) {
    std::unique_lock<std::mutex> lock(m_csListenState);
    m_cvListenState.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [this] { return m_iListenState != 0; });
    return m_iListenState;
}

size_t OrvaneEngine::WorkerCount() const {
    const RunToken run = CurrentRun();
    return run ? run->WorkerCount() : 0;
}

size_t OrvaneEngine::LiveThreadCount() const {
    std::lock_guard<std::mutex> lock(m_csRun);
    size_t n = m_run ? m_run->LiveThreads() : 0;
    for (const RunToken& run : m_vecEndedRuns) {
        n += run->LiveThreads();
    }
    return n;
}

}  // namespace orvane
