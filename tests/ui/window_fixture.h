#pragma once

#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/combobox.h>
#include <wx/evtloop.h>
#include <wx/listctrl.h>
#include <wx/msgdlg.h>
#include <wx/testing.h>
#include <wx/timer.h>
#include <wx/uiaction.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "common/child_process.h"
#include "common/temp_dir.h"
#include "support/language.h"
#include "ui/wx/dlg_layout.h"
#include "ui/wx/orvane_dlg.h"

namespace orvane::test {

// Runs the event loop until `done` holds or timeoutMs has passed; whether `done` holds. Idle
// comes after each batch of events: the moment to look again. Nothing happening means no idle
// events, and the deadline ends the wait.
inline bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 10000) {
    if (done()) {
        return true;
    }
    wxGUIEventLoop loop;
    wxTimer deadline;
    deadline.Bind(wxEVT_TIMER, [&loop](wxTimerEvent&) { loop.ScheduleExit(); });
    deadline.StartOnce(timeoutMs);
    // The condition may hold only for a moment (a worker can add a row between the check and
    // the loop's end), so the answer is the one seen when it held, not a second look.
    bool met = false;
    auto onIdle = [&](wxIdleEvent& event) {
        if (!met && done()) {
            met = true;
            loop.ScheduleExit();
        }
        event.Skip();
    };
    wxTheApp->Bind(wxEVT_IDLE, onIdle);
    loop.Run();
    wxTheApp->Unbind(wxEVT_IDLE, onIdle);
    return met || done();
}

// A real click in the middle of `window`, through the X server; then the events it causes
// are processed until `done` holds.
inline bool ClickOn(wxWindow* window, const std::function<bool()>& done, int timeoutMs = 10000) {
    wxUIActionSimulator sim;
    sim.MouseMove(window->GetScreenRect().GetPosition() + window->GetSize() / 2);
    sim.MouseClick();
    return PumpUntil(done, timeoutMs);
}

// A key press on the window that has the focus, then events until `done` holds.
inline bool PressKey(int key, const std::function<bool()>& done) {
    wxUIActionSimulator sim;
    sim.Char(key);
    return PumpUntil(done);
}

// The screen, once `window` has painted, as a PNG under build/test-artifacts.
inline bool SaveScreenshot(wxWindow* window, const std::string& name) {
    window->Refresh();
    window->Update();
    wxTheApp->Yield(true);
    std::error_code ec;
    std::filesystem::create_directories(ORVANE_TEST_ARTIFACTS, ec);
    const std::string path = std::string(ORVANE_TEST_ARTIFACTS) + "/" + name + ".png";
    return RunCommand({"/usr/bin/import", "-window", "root", path}) == 0;
}

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
    int OnInvoked(wxMessageDialog* box) const override {
        *m_pSeen = BoxSeen{m_pSeen->iCount + 1, box->GetMessage(), box->GetTitle(),
                           box->GetYesLabel(),  box->GetNoLabel(), box->GetMessageDialogStyle()};
        return m_iAnswer;
    }

  private:
    int m_iAnswer;
    BoxSeen* m_pSeen;
};

// A main window over a temporary program folder and Config.ini, in one language, with the
// hooks a test cannot do without: no single-instance lock and no crash recorder of the test
// program's own, a scripted folder picker, a restart that is only counted.
class WindowTest : public testing::Test {
  protected:
    using State = ui::COrvaneDlg::ServiceState;

    ~WindowTest() override { CloseAndDestroy(); }

    // Builds, initialises and shows the window; `prepare` may change the hooks first.
    void OpenWindow(int language, const std::function<void(ui::WindowHooks&)>& prepare = {}) {
        g_iLanguage = language;
        SetThreadUiLanguage(language);
        ui::WindowHooks hooks;
        hooks.startup.iniPath = m_dir.File("Config.ini");
        hooks.startup.programDir = m_dir.Path();
        hooks.startup.acquireInstance = [] { return true; };
        hooks.startup.installCrashRecorder = [] {};
        hooks.pickFolder = [this](const std::string& preset, std::string* chosen) {
            m_szPickerPreset = preset;
            *chosen = m_szPickerAnswer;
            return !m_szPickerAnswer.empty();
        };
        hooks.restart = [this] { ++m_iRestarts; };
        if (prepare) {
            prepare(hooks);
        }
        m_pDlg = std::make_unique<ui::COrvaneDlg>(hooks);
        ASSERT_TRUE(m_pDlg->Initialise());
        m_pDlg->Show();
        ASSERT_TRUE(PumpUntil([this] { return m_pDlg->IsShownOnScreen(); }));
        wxTheApp->Yield(true);
    }
    void CloseAndDestroy() {
        if (m_pDlg) {
            WaitSettled();
            m_pDlg.reset();
            wxTheApp->Yield(true);
        }
    }

    wxWindow* Control(int id) const { return m_pDlg->FindWindow(id); }
    wxString Label(int id) const { return Control(id)->GetLabel(); }
    wxComboBox* Combo(int id) const { return wxStaticCast(Control(id), wxComboBox); }
    wxListCtrl* List() const { return wxStaticCast(Control(ui::IDC_LIST_DEVICE), wxListCtrl); }

    // Start on loopback serving `folder` (a real click); true once the service runs.
    bool StartOnLoopback(const std::string& folder) {
        Combo(ui::IDC_COMBO_LOCAL_IP)->SetValue("127.0.0.1");
        Combo(ui::IDC_COMBO_UPGRADE_FOLDER)->SetValue(wxString::FromUTF8(folder));
        return ClickOn(
            Control(ui::IDC_BTN_BEGIN_UPGRADE),
            [this] { return m_pDlg->State() == State::kRunning; }, 30000);
    }
    // Waits until the window has no Start or Stop in progress.
    bool WaitSettled(int timeoutMs = 30000) {
        return PumpUntil(
            [this] {
                return m_pDlg->State() == State::kStopped || m_pDlg->State() == State::kRunning;
            },
            timeoutMs);
    }

    TempDir m_dir;
    std::unique_ptr<ui::COrvaneDlg> m_pDlg;
    // The scripted picker: what it was preset to and what it answers ("" cancels).
    std::string m_szPickerPreset;
    std::string m_szPickerAnswer;
    int m_iRestarts = 0;
};

}  // namespace orvane::test
