#pragma once

#include <atomic>
#include <functional>
#include <thread>

#include "ui/wx/ui_poster.h"

namespace orvane::ui {

// Runs one slow job at a time off the user-interface thread (a Start's checks, a Stop's
// waits, a reachability check) so the window keeps painting, then its finishing step on the
// user-interface thread.
class BackgroundTask {
  public:
    explicit BackgroundTask(UiPoster& poster) : m_poster(poster) {}
    // Waits for a job still running: what it uses is destroyed after this.
    ~BackgroundTask();
    BackgroundTask(const BackgroundTask&) = delete;
    BackgroundTask& operator=(const BackgroundTask&) = delete;

    // Starts `job` on its own thread; once it has returned, `done` is posted to the
    // user-interface thread. False (nothing started) while an earlier job still runs.
    bool Run(std::function<void()> job, std::function<void()> done);
    bool IsBusy() const { return m_bBusy.load(); }
    // Waits for the running job, if any, to return (its finishing step stays queued).
    void Wait();

  private:
    UiPoster& m_poster;
    std::thread m_thread;
    std::atomic<bool> m_bBusy{false};
};

}  // namespace orvane::ui
