#include "protocol/orvane_engine.h"

#include <algorithm>
#include <chrono>

#include "firmware/folder_watcher.h"
#include "platform/clock.h"
#include "platform/folder_watch.h"
#include "protocol/service_view.h"
#include "support/language.h"
#include "support/log.h"

namespace orvane {

namespace {
constexpr int kWatcherWaitMs = 1000;
}  // namespace

OrvaneEngine::OrvaneEngine(ServiceView& view)
    : m_view(view),
      m_deviceTable(view),
      m_ipAllocator([this] { return m_view.IsIpCheck(); }),
      m_catalogue(&m_counters.firmwareRefused,
                  [vouched = m_vouched](bool on, const std::vector<platform::FileVersion>& files) {
                      vouched->Set(on, files);
                  }),
      m_requestHandler({m_view, m_deviceTable, m_catalogue, m_batch, m_cloudRequests, m_ipAllocator,
                        m_counters, m_replySender, m_szLocalIP, m_szLocalMac, m_bNetConnected}),
      m_reportHandler(m_view, m_deviceTable, m_batch),
      m_cloudThread(m_cloudRequests, m_catalogue, m_requestHandler, m_view, m_deviceTable,
                    m_counters),
      m_listener(m_szLocalIP, m_bPauseTest, m_view, m_counters,
                 [this](const std::string& text, int sequence) {
                     if (m_hooks.request) {
                         m_hooks.request(text, sequence);
                     } else {
                         m_requestHandler.RequestIpaddrProc(text, sequence);
                     }
                 }) {
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
    m_listener.BeginRun();
    const RunToken run = std::make_shared<RunState>(config.iThreadWaitMs);
    {
        std::lock_guard<std::mutex> lock(m_csRun);
        m_run = run;
    }

    StartTftpService(config);

    m_catalogue.SaveUpgradeFileInfo(m_szUpgradeFolder);

    m_bStartUpgrade = 1;
    // The dispatcher must exist before the listener can post to it.
    bool ok = run->StartThread(m_hCleanThread, "CleanThreadProc", [this](RunState& r) {
        return CleanThreadProc(r);
    }) && run->StartThread(m_hOtherRecvMsgHnd, "DispatchMsgProc", [this](RunState& r) {
        return DispatchMsgProc(r);
    });
    if (ok) {
        platform::SleepMs(20);
        ok = run->StartThread(m_hListenThread, "ListenIPCPortProc",
                              [this](RunState& r) { return m_listener.ListenIPCPortProc(r); },
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
    m_catalogue.SetTrustKey(config.szTrustKey);
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
    m_tftpService.Stop();

    run->Post(WM_QUIT_DISPATCH);
    WaitRunThread(m_hOtherRecvMsgHnd, "DispatchMsgProc");
    WaitRunThread(m_hListenThread, "ListenIPCPortProc");
    WaitRunThread(m_hCleanThread, "CleanThreadProc");
    m_listener.StopWorkers(*run);
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
    return run && run->StartThread(handle, name, std::move(body), options);
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

void OrvaneEngine::StartCloudThread() {
    if (!StartRunThread(m_hCloudThread, "CloudFirmwareProc",
                        [this](RunState& run) { return m_cloudThread.CloudFirmwareProc(run); })) {
        WriteLog(kLogMajor, "StartService create CloudFirmwareProc thread failed");
    }
}

// The thread gives up a download in hand within a poll of its run's flag, so this wait is
// short; the lists are emptied even if it is missed, under their lock.
void OrvaneEngine::StopCloudThread() {
    WaitRunThread(m_hCloudThread, "CloudFirmwareProc");
    m_cloudRequests.Clear();
}

// The folder watcher that asks the dispatcher for rescans. It reads the folder box once, as
// it is when the service starts.
void OrvaneEngine::StartFolderWatcher() {
    // Owned by the thread's closure, which may outlive a missed wait at Stop.
    auto watch = std::make_shared<platform::FolderWatch>();
    if (!OpenFolderWatch(m_view.GetUpgradeFolder(), watch.get())) {
        return;  // the catalogue follows no changes until the next Start
    }
    StartRunThread(m_hWatchThread, "WatchDirectory", [watch](RunState& run) {
        return WatchDirectory(*watch, run.running, [&run] { return run.Post(WM_RESCAN_FOLDER); });
    });
}

void OrvaneEngine::StopFolderWatcher() {
    if (m_hWatchThread.IsStarted() && !m_hWatchThread.Wait(kWatcherWaitMs)) {
        WriteLog(kLogMajor, "StopService the folder watcher did not end within %d ms",
                 kWatcherWaitMs);
    }
    m_hWatchThread = platform::Thread();
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

std::string OrvaneEngine::BatchNote() const {
    return BatchNoteText(m_batch.Settings(), m_batch.Status(), g_iLanguage == kLanguageChinese);
}

void OrvaneEngine::RetireStalledDevices() {
    for (const std::string& mac : m_batch.TakeStalled(platform::MonotonicMs())) {
        WriteLog(kLogMajor, "%s sent nothing for %d minutes: its place is given up", mac.c_str(),
                 m_batch.Settings().iStallMinutes);
        m_deviceTable.RetireStalled(mac);
    }
}

}  // namespace orvane
