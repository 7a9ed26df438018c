#include "firmware/folder_watcher.h"

#include <algorithm>

#include "platform/clock.h"
#include "platform/folder_watch.h"
#include "platform/thread.h"
#include "support/log.h"

namespace orvane {

bool RescanPacer::Due(uint32_t now) {
    if (!m_bPending || now - m_uLast < kRescanIntervalMs) {
        return false;
    }
    m_uLast = now;
    m_bPending = false;
    return true;
}

int RescanPacer::WaitBudget(uint32_t now, int maxWaitMs) const {
    if (!m_bPending) {
        return maxWaitMs;
    }
    uint32_t elapsed = now - m_uLast;
    uint32_t left = elapsed >= kRescanIntervalMs ? 0 : kRescanIntervalMs - elapsed;
    return static_cast<int>(std::min<uint32_t>(left, static_cast<uint32_t>(maxWaitMs)));
}

int RunFolderWatch(const FolderWatchHooks& hooks, const std::atomic<int>& running) {
    RescanPacer pacer(hooks.tick());
    while (running.load() != 0) {
        FolderWatchHooks::Wait r = hooks.wait(pacer.WaitBudget(hooks.tick(), kWatchPollMs));
        if (r == FolderWatchHooks::Wait::kFailed) {
            hooks.pause(kWatchRetryMs);
            continue;
        }
        if (r == FolderWatchHooks::Wait::kChanged) {
            pacer.OnChange();
        }
        if (running.load() != 0 && pacer.Due(hooks.tick()) && !hooks.postRescan()) {
            WriteLog(kLogMajor, "WatchDirectory m_hOtherRecvMsgHnd is NULL");
        }
    }
    return 0;
}

bool OpenFolderWatch(const std::string& folder, platform::FolderWatch* watch) {
    // Only the files the catalogue reads: a log kept in the folder is written line by line.
    if (watch->Open(folder, ".bin")) {
        return true;
    }
    WriteLog(kLogMajor, "WatchDirectory CreateFile failed, error: %d", watch->LastError());
    WriteLog(kLogMajor, "WatchDirectory %s: %s", folder.c_str(), watch->LastErrorText().c_str());
    return false;
}

int WatchDirectory(const std::string& folder, const std::atomic<int>& running,
                   const std::function<bool()>& postRescan) {
    platform::FolderWatch watch;
    if (!OpenFolderWatch(folder, &watch)) {
        return -1;
    }
    return WatchDirectory(watch, running, postRescan);
}

int WatchDirectory(platform::FolderWatch& watch, const std::atomic<int>& running,
                   const std::function<bool()>& postRescan) {
    FolderWatchHooks hooks;
    hooks.wait = [&watch](int timeoutMs) {
        switch (watch.Wait(timeoutMs)) {
            case platform::FolderWatch::WaitResult::kChanged:
                return FolderWatchHooks::Wait::kChanged;
            case platform::FolderWatch::WaitResult::kTimeout:
                return FolderWatchHooks::Wait::kTimeout;
            default:
                return FolderWatchHooks::Wait::kFailed;
        }
    };
    hooks.postRescan = postRescan;
    hooks.tick = [] { return platform::GetTickCount(); };
    hooks.pause = [](int ms) { platform::SleepMs(ms); };
    return RunFolderWatch(hooks, running);
}

}  // namespace orvane
