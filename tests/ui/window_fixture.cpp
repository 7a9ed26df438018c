#include "window_fixture.h"

#include <wx/app.h>
#include <wx/evtloop.h>
#include <wx/timer.h>
#include <wx/uiaction.h>

#include <filesystem>

#include "common/child_process.h"
#include "support/language.h"
#include "ui/wx/dlg_layout.h"

namespace orvane::test {

bool PumpUntil(const std::function<bool()>& done, int timeoutMs) {
    if (done()) {
        return true;
    }
    wxGUIEventLoop loop;
    wxTimer deadline;
    deadline.Bind(wxEVT_TIMER, [&loop](wxTimerEvent&) { loop.ScheduleExit(); });
    deadline.StartOnce(timeoutMs);
    // Idle comes after each batch of events: the moment to look again. Nothing happening
    // means no idle events, and the deadline ends the wait.
    auto onIdle = [&](wxIdleEvent& event) {
        if (done()) {
            loop.ScheduleExit();
        }
        event.Skip();
    };
    wxTheApp->Bind(wxEVT_IDLE, onIdle);
    loop.Run();
    wxTheApp->Unbind(wxEVT_IDLE, onIdle);
    return done();
}

void PumpPending() {
    wxTheApp->Yield(true);
}

bool ClickOn(wxWindow* window, const std::function<bool()>& done, int timeoutMs) {
    wxUIActionSimulator sim;
    sim.MouseMove(window->GetScreenRect().GetPosition() + window->GetSize() / 2);
    sim.MouseClick();
    return PumpUntil(done, timeoutMs);
}

bool SaveScreenshot(wxWindow* window, const std::string& name) {
    window->Refresh();
    window->Update();
    PumpPending();
    std::error_code ec;
    std::filesystem::create_directories(ORVANE_TEST_ARTIFACTS, ec);
    const std::string path = std::string(ORVANE_TEST_ARTIFACTS) + "/" + name + ".png";
    return RunCommand({"/usr/bin/import", "-window", "root", path}) == 0;
}

int ExpectBox::OnInvoked(wxMessageDialog* box) const {
    ++m_pSeen->iCount;
    m_pSeen->message = box->GetMessage();
    m_pSeen->caption = box->GetTitle();
    m_pSeen->yesLabel = box->GetYesLabel();
    m_pSeen->noLabel = box->GetNoLabel();
    m_pSeen->style = box->GetMessageDialogStyle();
    return m_iAnswer;
}

WindowTest::~WindowTest() {
    CloseAndDestroy();
}

void WindowTest::OpenWindow(int language, const std::function<void(ui::WindowHooks&)>& prepare) {
    g_iLanguage = language;
    SetThreadUiLanguage(language);
    ui::WindowHooks hooks;
    hooks.szIniPath = m_dir.File("Config.ini");
    hooks.szProgramDir = m_dir.Path();
    hooks.acquireInstance = [] { return true; };
    hooks.installCrashRecorder = [] {};
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
    PumpPending();
}

void WindowTest::CloseAndDestroy() {
    if (m_pDlg) {
        WaitSettled();
        m_pDlg.reset();
        PumpPending();
    }
}

wxWindow* WindowTest::Control(int id) const {
    return m_pDlg->FindWindow(id);
}

wxString WindowTest::Label(int id) const {
    return Control(id)->GetLabel();
}

wxComboBox* WindowTest::Combo(int id) const {
    return wxStaticCast(Control(id), wxComboBox);
}

wxListCtrl* WindowTest::List() const {
    return wxStaticCast(Control(ui::IDC_LIST_DEVICE), wxListCtrl);
}

bool WindowTest::StartOnLoopback(const std::string& folder) {
    Combo(ui::IDC_COMBO_LOCAL_IP)->SetValue("127.0.0.1");
    Combo(ui::IDC_COMBO_UPGRADE_FOLDER)->SetValue(wxString::FromUTF8(folder));
    return ClickOn(
        Control(ui::IDC_BTN_BEGIN_UPGRADE),
        [this] { return m_pDlg->State() == ui::COrvaneDlg::ServiceState::kRunning; }, 30000);
}

bool WindowTest::WaitSettled(int timeoutMs) {
    using State = ui::COrvaneDlg::ServiceState;
    return PumpUntil(
        [this] { return m_pDlg->State() == State::kStopped || m_pDlg->State() == State::kRunning; },
        timeoutMs);
}

}  // namespace orvane::test
