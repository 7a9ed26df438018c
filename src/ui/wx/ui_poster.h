#pragma once

#include <functional>
#include <mutex>

class wxEvtHandler;

namespace orvane::ui {

// The one way from other threads to the window: a call queued for the user-interface thread.
// Once the window detaches (it is closing), later posts are dropped, and calls already queued
// are discarded with the window's own pending events, so a closed window is never touched.
class UiPoster {
  public:
    explicit UiPoster(wxEvtHandler* target) : m_pTarget(target) {}
    UiPoster(const UiPoster&) = delete;
    UiPoster& operator=(const UiPoster&) = delete;

    // Any thread; never waits for the user-interface thread.
    void Post(std::function<void()> fn);
    // User-interface thread, before the target is destroyed.
    void Detach();

  private:
    // Held across the queueing, so Detach cannot complete while a post is half done.
    std::mutex m_csTarget;
    wxEvtHandler* m_pTarget;
};

}  // namespace orvane::ui
