#include "protocol/orvane_engine.h"

#include <chrono>

#include "firmware/folder_watcher.h"
#include "firmware/upgrade_catalogue.h"
#include "platform/folder_watch.h"
#include "protocol/service_view.h"
#include "support/log.h"
#include "tftp/tftp_interface.h"

namespace orvane {

namespace {
constexpr int kThreadWaitMs = 10000;
constexpr int kWatcherWaitMs = 1000;
}  // namespace

OrvaneEngine::OrvaneEngine(ServiceView& view)
    : m_view(view), m_deviceTable(view), m_ipAllocator([this] { return m_view.IsIpCheck(); }) {}

OrvaneEngine::~OrvaneEngine() {
    StopService();
}

bool OrvaneEngine::StartService(const ServiceConfig& config) {
    if (IsRunning()) {
        return true;
    }
    m_szLocalIP = config.szLocalIP.substr(0, 63);
    // The Start command forms the cursor before its MAC lookup; forming it again here keeps
    // an engine started on its own on the same walk.
    m_ipAllocator.SetNextIP(MakeAllocationCursor(m_szLocalIP));
    m_szLocalMac = config.szLocalMac;
    m_szUpgradeFolder = config.szUpgradeFolder;
    m_bPauseTest = 0;
    m_iRequestSeq = 0;
    m_queueDispatch.Clear();
    SetListenState(0);

    StartTftpService();

    RebuildCatalogue();

    m_bStartUpgrade = 1;
    // The dispatcher must exist before the listener can post to it.
    bool ok = m_hCleanThread.Start([this] { return CleanThreadProc(); }) &&
              m_hOtherRecvMsgHnd.Start([this] { return DispatchMsgProc(); });
    if (ok) {
        platform::SleepMs(20);
        ok = m_hListenThread.Start([this] { return ListenIPCPortProc(); });
    }
    if (!ok) {
        WriteLog(kLogMajor, "StartService create thread failed");
        StopService();
        return false;
    }
    m_hListenThread.SetHighestPriority();

    StartCloudThread();

    StartFolderWatcher();
    return true;
}

void OrvaneEngine::StopService() {
    // Cleared first, so no new request is answered with a file the stopping TFTP service will
    // no longer serve.
    m_bStartUpgrade = 0;
    StopTftpService();

    PostDispatchMessage(WM_QUIT_DISPATCH);
    for (platform::Thread* t : {&m_hOtherRecvMsgHnd, &m_hListenThread, &m_hCleanThread}) {
        if (t->IsStarted() && !t->Wait(kThreadWaitMs)) {
            WriteLog(kLogMajor, "StopService a thread did not end within %d ms", kThreadWaitMs);
        }
    }
    // Workers the clean-up thread did not reap yet: each ends on its own, wait for it here so
    // no record is freed under a running worker.
    std::list<std::unique_ptr<ThreadInfo>> workers;
    {
        std::lock_guard<std::mutex> lock(m_csWorkerList);
        workers.swap(m_listWorkers);
    }
    for (auto it = workers.begin(); it != workers.end();) {
        if ((*it)->thread.Wait(kThreadWaitMs)) {
            it = workers.erase(it);
            continue;
        }
        // Still running: it writes its running flag when it ends, so its record stays listed
        // for the next clean-up pass or Stop rather than being freed under it.
        WriteLog(kLogMajor, "StopService a RequestIpMsgProc thread did not end within %d ms",
                 kThreadWaitMs);
        std::lock_guard<std::mutex> lock(m_csWorkerList);
        m_listWorkers.push_back(std::move(*it));
        it = workers.erase(it);
    }
    // Datagrams still queued for the dispatcher are released with their records.
    m_queueDispatch.Clear();

    StopCloudThread();

    StopFolderWatcher();
}

// The TFTP service serving the upgrade folder on m_szLocalIP.
void OrvaneEngine::StartTftpService() {
    StartTftp(m_szLocalIP.c_str(), m_szUpgradeFolder.c_str());
}

void OrvaneEngine::StopTftpService() {
    StopTftp();
}

// The firmware catalogue of the upgrade folder.
void OrvaneEngine::RebuildCatalogue() {
    SaveUpgradeFileInfo(m_szUpgradeFolder);
}

void OrvaneEngine::SaveUpgradeFileInfo(const std::string& folder) {
    orvane::SaveUpgradeFileInfo(m_vecUpgradeFileInfo, m_csUpgradeFileInfo, folder);
    {
        std::lock_guard<std::mutex> lock(m_csUpgradeFileInfo);
        ++m_uCatalogueRebuilds;
    }
    m_cvCatalogueRebuilt.notify_all();
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
    // Shared with the thread, which may outlive a missed wait at Stop.
    auto watch = std::make_shared<platform::FolderWatch>();
    if (!OpenFolderWatch(m_view.GetUpgradeFolder(), watch.get())) {
        return;  // the catalogue follows no changes until the next Start
    }
    m_hWatchThread.Start([this, watch] {
        return WatchDirectory(*watch, m_bStartUpgrade,
                              [this] { return PostDispatchMessage(WM_RESCAN_FOLDER); });
    });
}

void OrvaneEngine::StopFolderWatcher() {
    if (m_hWatchThread.IsStarted() && !m_hWatchThread.Wait(kWatcherWaitMs)) {
        WriteLog(kLogMajor, "StopService the folder watcher did not end within %d ms",
                 kWatcherWaitMs);
    }
}

bool OrvaneEngine::PostDispatchMessage(unsigned message, std::unique_ptr<MsgParam> param) {
    m_queueDispatch.Post(DispatchMessage{message, std::move(param)});
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
    std::lock_guard<std::mutex> lock(m_csWorkerList);
    return m_listWorkers.size();
}

}  // namespace orvane
