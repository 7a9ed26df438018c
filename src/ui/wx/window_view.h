#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>

#include "protocol/service_view.h"
#include "ui/wx/ui_poster.h"

namespace orvane::ui {

// What the window does, on its own thread, for the engine's notices.
struct WindowViewActions {
    // The device model changed; `addedRow` is the last row appended since the previous call
    // (-1 for none), to be scrolled into view.
    std::function<void(int addedRow)> refreshDevices;
    std::function<void()> raiseWindow;
    std::function<void(int textId)> showError;
    // The run halted; `note` is what the note line says now.
    std::function<void(const std::string& note)> runHalted;
};

// The window's side of the engine: every notice is posted to the user-interface thread, and
// the check boxes and the folder box are read from copies the window keeps current, so no
// engine thread ever touches a widget or waits for the window.
class WindowView : public CopiedSettingsView {
  public:
    WindowView(UiPoster& poster, WindowViewActions actions);

    void OnDeviceTableChanged(const DeviceTableChange& change) override;
    void ShowMainWindow() override;
    void ShowErrorText(int textId) override;
    void OnRunHalted(const std::string& note) override;

  private:
    void RunRefresh();

    UiPoster& m_poster;
    WindowViewActions m_actions;
    // A burst of model changes queues one refresh: the window re-reads the model when it
    // runs, so the changes in between need no queueing of their own.
    std::mutex m_csPending;
    bool m_bRefreshQueued = false;  // guarded by m_csPending
    int m_iAddedRow = -1;           // guarded by m_csPending
    std::atomic<bool> m_bRaiseQueued{false};
};

}  // namespace orvane::ui
