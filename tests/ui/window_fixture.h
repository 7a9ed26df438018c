#pragma once

#include <gtest/gtest.h>
#include <wx/combobox.h>
#include <wx/listctrl.h>
#include <wx/msgdlg.h>
#include <wx/testing.h>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "common/temp_dir.h"
#include "ui/wx/orvane_dlg.h"

namespace orvane::test {

// Runs the event loop until `done` holds (checked each time the loop has gone idle, that is
// after every batch of events) or timeoutMs has passed; whether `done` holds.
bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 10000);

// Processes what is queued now (paints, posted calls) and returns.
void PumpPending();

// A real click in the middle of `window`, through the X server; then the events it causes
// are processed until `done` holds.
bool ClickOn(wxWindow* window, const std::function<bool()>& done, int timeoutMs = 10000);

// The screen, once `window` has painted, as a PNG under build/test-artifacts; false when it
// could not be written.
bool SaveScreenshot(wxWindow* window, const std::string& name);

// What a message box showed.
struct BoxSeen {
    int iCount = 0;
    wxString message;
    wxString caption;
    wxString yesLabel;
    wxString noLabel;
    long style = 0;
};

// Answers a message box with `answer` and records it in `seen`.
class ExpectBox : public wxExpectModalBase<wxMessageDialog, ExpectBox> {
  public:
    ExpectBox(int answer, BoxSeen* seen) : m_iAnswer(answer), m_pSeen(seen) {}

  protected:
    int OnInvoked(wxMessageDialog* box) const override;

  private:
    int m_iAnswer;
    BoxSeen* m_pSeen;
};

// Holds a Stop before its waits until released; released at the latest when it goes.
class StopHold {
  public:
    ~StopHold() { Release(); }
    void Wait() {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_bWaiting = true;
        m_cv.wait_for(lock, std::chrono::seconds(60), [this] { return m_bReleased; });
    }
    bool Waiting() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_bWaiting;
    }
    void Release() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_bReleased = true;
        }
        m_cv.notify_all();
    }

  private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_bWaiting = false;
    bool m_bReleased = false;
};

// A main window over a temporary program folder and Config.ini, in one language, with the
// hooks a test cannot do without: no single-instance lock and no crash recorder of the test
// program's own, a scripted folder picker, a restart that is only counted.
class WindowTest : public testing::Test {
  protected:
    ~WindowTest() override;

    // Builds, initialises and shows the window; `prepare` may change the hooks first.
    void OpenWindow(int language, const std::function<void(ui::WindowHooks&)>& prepare = {});
    void CloseAndDestroy();

    wxWindow* Control(int id) const;
    wxString Label(int id) const;
    wxComboBox* Combo(int id) const;
    wxListCtrl* List() const;
    // Start on loopback serving `folder` (a real click); true once the service runs.
    bool StartOnLoopback(const std::string& folder);
    // Waits until the window has no Start or Stop in progress.
    bool WaitSettled(int timeoutMs = 30000);

    TempDir m_dir;
    std::unique_ptr<ui::COrvaneDlg> m_pDlg;
    // The scripted picker: what it was preset to and what it answers ("" cancels).
    std::string m_szPickerPreset;
    std::string m_szPickerAnswer;
    int m_iRestarts = 0;
};

}  // namespace orvane::test
