#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

namespace orvane {

namespace platform {
class FolderWatch;
}

constexpr uint32_t kRescanIntervalMs = 3000;

// Paces folder rescans: at most one per kRescanIntervalMs. A change inside the interval is
// not dropped but held until the interval is over, so the last change of a burst is never
// lost. Times are 32-bit millisecond ticks (wrapping).
class RescanPacer {
  public:
    explicit RescanPacer(uint32_t now) : m_uLast(now) {}

    void OnChange() { m_bPending = true; }
    // True when a rescan is to be posted now (and counts it as posted).
    bool Due(uint32_t now);
    // How long to wait for the next change before Due may turn true: at most maxWaitMs.
    int WaitBudget(uint32_t now, int maxWaitMs) const;

  private:
    uint32_t m_uLast;
    bool m_bPending = false;
};

// What the watcher loop needs from the outside; tests replace each piece.
struct FolderWatchHooks {
    enum class Wait { kChanged, kTimeout, kFailed };
    std::function<Wait(int timeoutMs)> wait;  // next name change in the folder
    std::function<bool()> postRescan;         // false when there is no dispatcher to tell
    std::function<uint32_t()> tick;           // millisecond tick count
    std::function<void(int ms)> pause;        // after a failed wait
};

// The watcher's loop while `running` is set: waits for name changes and posts paced
// rescans. Ends within one wait (at most kWatchPollMs) of `running` clearing; a wait that
// keeps failing is retried every kWatchRetryMs, never in a spin. Returns 0.
constexpr int kWatchPollMs = 250;
constexpr int kWatchRetryMs = 200;
int RunFolderWatch(const FolderWatchHooks& hooks, const std::atomic<int>& running);

// Starts watching `folder`; false (logged with the system error) when it cannot be watched.
// Opened before the watcher thread starts, so no change after Start can slip by unseen.
bool OpenFolderWatch(const std::string& folder, platform::FolderWatch* watch);

// The watcher thread over an open watch: asks for rescans through `postRescan` (which returns
// false when no dispatcher runs; that is logged). Returns 0 once `running` clears.
int WatchDirectory(platform::FolderWatch& watch, const std::atomic<int>& running,
                   const std::function<bool()>& postRescan);

// Both in one: -1 when the folder cannot be watched.
int WatchDirectory(const std::string& folder, const std::atomic<int>& running,
                   const std::function<bool()>& postRescan);

}  // namespace orvane
