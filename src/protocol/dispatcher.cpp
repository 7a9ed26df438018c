// The dispatcher thread (reports one at a time, folder rescans) and the clean-up thread.
#include "platform/thread.h"
#include "protocol/orvane_engine.h"
#include "protocol/service_view.h"
#include "support/language.h"
#include "support/log.h"

namespace orvane {

namespace {
constexpr int kCleanPassMs = 200;
}  // namespace

int OrvaneEngine::DispatchMsgProc(RunState& run) {
    SetThreadUiLanguage(g_iLanguage == kLanguageChinese ? kLanguageChinese : kLanguageEnglish);
    while (run.IsRunning()) {
        DispatchMessage msg = run.queue.Get();
        if (msg.message == WM_QUIT_DISPATCH) {
            break;
        }
        try {
            HandleDispatchMessage(msg);
        } catch (const std::exception& e) {
            // Out of memory, most likely: this message is dropped, the next one is served.
            WriteLog(kLogMajor, "DispatchMsgProc message %u ended by an exception: %s", msg.message,
                     e.what());
        }
        // msg.pMsgParam is freed here, whatever happened.
    }
    return 0;
}

void OrvaneEngine::HandleDispatchMessage(DispatchMessage& msg) {
    if (msg.message == WM_OTHRE_MSG) {
        MsgParam* p = msg.pMsgParam.get();
        WriteLog(kLogInfo, "#QMDebug WM_OTHRE_MSG, pMsgParam=%p, dlg=%p", static_cast<void*>(p),
                 static_cast<void*>(p ? p->owner : nullptr));
        if (p && p->owner) {
            const std::string text(p->szRecvBuf);
            const int type = p->iType;
            WriteLog(kLogInfo, "#QMDebug GetMsgType %d start======", type);
            const int event = ReportEventOfType(type);
            if (event >= 0) {
                if (m_hooks.report) {
                    m_hooks.report(event, text);
                } else {
                    m_reportHandler.ReportMsgProc(event, text);
                }
            }
            WriteLog(kLogInfo, "#QMDebug GetMsgType %d end======", type);
        }
    } else if (msg.message == WM_RESCAN_FOLDER) {
        // Between datagrams: reports queue up while the folder is read.
        m_catalogue.SaveUpgradeFileInfo(m_view.GetUpgradeFolder());
    }
}

// Reaps each worker as soon as it finishes: a finished worker's thread is joined at once, so
// a flood of requests never piles up ended threads waiting for a timed pass.
int OrvaneEngine::CleanThreadProc(RunState& run) {
    // The presence test closes its raw socket itself (closing is immediate here), so there
    // are no socket-closing threads to reap.
    while (run.IsRunning()) {
        if (m_hooks.reap) {
            m_hooks.reap();
        }
        m_listener.ReapFinishedWorkers(run);
        RetireStalledDevices();
        run.WaitWorkerFinished(kCleanPassMs);
    }
    return 0;
}

}  // namespace orvane
