// The dispatcher thread (reports one at a time, folder rescans) and the clean-up thread.
#include "platform/thread.h"
#include "protocol/orvane_engine.h"
#include "protocol/service_view.h"
#include "support/language.h"
#include "support/log.h"

namespace orvane {

namespace {
constexpr int kCleanPassMs = 200;
constexpr int kReapWorkersEvery = 10;  // about every 2 s
constexpr int kThreadWaitMs = 10000;
}  // namespace

int OrvaneEngine::DispatchMsgProc() {
    SetThreadUiLanguage(g_iLanguage == kLanguageChinese ? kLanguageChinese : kLanguageEnglish);
    while (m_bStartUpgrade.load()) {
        DispatchMessage msg = m_queueDispatch.Get();
        if (msg.message == WM_QUIT_DISPATCH) {
            break;
        }
        if (msg.message == WM_OTHRE_MSG) {
            MsgParam* p = msg.pMsgParam.get();
            WriteLog(kLogInfo, "#QMDebug WM_OTHRE_MSG, pMsgParam=%p, dlg=%p", static_cast<void*>(p),
                     static_cast<void*>(p ? p->owner : nullptr));
            if (p && p->owner) {
                const std::string text(p->szRecvBuf);
                int type = GetMsgType(text);
                WriteLog(kLogInfo, "#QMDebug GetMsgType %d start======", type);
                if (type >= kMsgReportDownloading && type <= kMsgReportUpdate) {
                    ReportMsgProc(type - 1, text);
                }
                WriteLog(kLogInfo, "#QMDebug GetMsgType %d end======", type);
            }
            // msg.pMsgParam is freed here, whatever happened.
        } else if (msg.message == WM_RESCAN_FOLDER) {
            RescanFolder(m_view.GetUpgradeFolder());
        }
    }
    return 0;
}

int OrvaneEngine::CleanThreadProc() {
    // The presence test closes its raw socket itself (closing is immediate here), so there
    // are no socket-closing threads to reap.
    int workerPass = 0;
    while (m_bStartUpgrade.load()) {
        if (++workerPass >= kReapWorkersEvery) {
            workerPass = 0;
            ReapFinishedWorkers();
        }
        platform::SleepMs(kCleanPassMs);
    }
    return 0;
}

void OrvaneEngine::ReapFinishedWorkers() {
    std::unique_lock<std::mutex> lock(m_csWorkerList);
    for (auto it = m_listWorkers.begin(); it != m_listWorkers.end();) {
        if ((*it)->running.load() != 0) {
            ++it;
            continue;
        }
        std::unique_ptr<ThreadInfo> done = std::move(*it);
        it = m_listWorkers.erase(it);
        // Waiting for a thread must not hold up the listener, which appends under this lock.
        lock.unlock();
        WriteLog(kLogInfo, "Clean RequestIpMsgProc Thread, handle %p",
                 static_cast<void*>(done.get()));
        done->thread.Wait(kThreadWaitMs);
        done.reset();
        lock.lock();
    }
}

// Runs on the dispatcher thread between datagrams: reports queue up while the folder is read.
void OrvaneEngine::RescanFolder(const std::string& folder) {
    SaveUpgradeFileInfo(folder);
}

}  // namespace orvane
