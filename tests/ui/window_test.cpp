// The window driven by real clicks and keys on its own X server, its boxes answered.
#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/checkbox.h>
#include <wx/combobox.h>
#include <wx/evtloop.h>
#include <wx/filedlg.h>
#include <wx/listctrl.h>
#include <wx/msgdlg.h>
#include <wx/spinctrl.h>
#include <wx/testing.h>
#include <wx/textctrl.h>
#include <wx/timer.h>
#include <wx/uiaction.h>

#include <array>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <tuple>

#include "app/batch_files.h"
#include "app/profile_file.h"
#include "common/child_process.h"
#include "common/temp_dir.h"
#include "common/update_service.h"
#include "support/language.h"
#include "ui/wx/batch_dlg.h"
#include "ui/wx/dlg_layout.h"
#include "ui/wx/orvane_dlg.h"

namespace orvane::test {
namespace {

namespace fs = std::filesystem;

// Runs the event loop until `done` holds (looked at on idle) or timeoutMs has passed.
inline bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 10000) {
    if (done()) {
        return true;
    }
    wxGUIEventLoop loop;
    wxTimer deadline;
    deadline.Bind(wxEVT_TIMER, [&loop](wxTimerEvent&) { loop.ScheduleExit(); });
    deadline.StartOnce(timeoutMs);
    // The condition may hold only for a moment: the answer is the one seen when it held.
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

// A real click in the middle of `window`, then events until `done` holds.
inline bool ClickOn(wxWindow* window, const std::function<bool()>& done, int timeoutMs = 10000) {
    wxUIActionSimulator sim;
    return sim.MouseMove(window->GetScreenRect().GetPosition() + window->GetSize() / 2) &&
           sim.MouseClick() && PumpUntil(done, timeoutMs);
}

// A key press on the focused window, then events until `done` holds.
inline bool PressKey(int key, const std::function<bool()>& done) {
    return wxUIActionSimulator().Char(key) && PumpUntil(done);
}

// What a message box showed.
struct BoxSeen {
    int iCount = 0;
    wxString yesLabel, noLabel;
    long style = 0;
};

// Answers a message box with `answer` and records it in `seen`.
class ExpectBox : public wxExpectModalBase<wxMessageDialog, ExpectBox> {
  public:
    ExpectBox(int answer, BoxSeen* seen) : m_iAnswer(answer), m_pSeen(seen) {}
    int m_iAnswer;
    BoxSeen* m_pSeen;

  protected:
    int OnInvoked(wxMessageDialog* box) const override {
        *m_pSeen = BoxSeen{m_pSeen->iCount + 1, box->GetYesLabel(), box->GetNoLabel(),
                           box->GetMessageDialogStyle()};
        return m_iAnswer;
    }
};

// Fills the batch dialog once it is on the screen, and answers OK.
class FillBatchDialog : public wxExpectModalBase<ui::CBatchDlg, FillBatchDialog> {
  public:
    explicit FillBatchDialog(std::string scope) : m_szScope(std::move(scope)) {}
    std::string m_szScope;

  protected:
    int OnInvoked(ui::CBatchDlg* dialog) const override {
        dialog->Show();
        EXPECT_TRUE(PumpUntil([dialog] { return dialog->IsShownOnScreen(); }));
        wxStaticCast(dialog->FindWindow(ui::CBatchDlg::IDC_EDIT_SCOPE_FILE), wxTextCtrl)
            ->SetValue(m_szScope);
        wxStaticCast(dialog->FindWindow(ui::CBatchDlg::IDC_SPIN_AT_ONCE), wxSpinCtrl)->SetValue(1);
        wxStaticCast(dialog->FindWindow(ui::CBatchDlg::IDC_SPIN_HALT_AFTER), wxSpinCtrl)
            ->SetValue(1);
        dialog->Hide();
        return wxID_OK;
    }
};

// Records a file dialog's title and cancels it.
class CancelFileDialog : public wxExpectModalBase<wxFileDialog, CancelFileDialog> {
  public:
    explicit CancelFileDialog(wxString* title) : m_pTitle(title) {}
    wxString* m_pTitle;

  protected:
    int OnInvoked(wxFileDialog* dialog) const override {
        *m_pTitle = dialog->GetMessage();
        return wxID_CANCEL;
    }
};

// A main window over a temporary folder and Config.ini: no single-instance lock or crash
// recorder, a scripted folder picker, a restart that is only counted.
class WindowTest : public testing::Test {
  protected:
    using State = ui::COrvaneDlg::ServiceState;

    ~WindowTest() override {
        if (m_pDlg) {
            WaitSettled();
            m_pDlg.reset();
            wxTheApp->Yield(true);
        }
    }

    // Builds, initialises and shows the window, in English.
    void OpenWindow() {
        g_iLanguage = kLanguageEnglish;
        SetThreadUiLanguage(kLanguageEnglish);
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
        m_pDlg = std::make_unique<ui::COrvaneDlg>(hooks);
        ASSERT_TRUE(m_pDlg->Initialise());
        m_pDlg->Show();
        ASSERT_TRUE(PumpUntil([this] { return m_pDlg->IsShownOnScreen(); }));
        wxTheApp->Yield(true);
    }

    wxWindow* Control(int id) const { return m_pDlg->FindWindow(id); }
    wxString Label(int id) const { return Control(id)->GetLabel(); }
    wxComboBox* Combo(int id) const { return wxStaticCast(Control(id), wxComboBox); }
    wxListCtrl* List() const { return wxStaticCast(Control(ui::IDC_LIST_DEVICE), wxListCtrl); }

    // A real click on Start/Stop; true once the service is in state `want`.
    bool ClickStartStop(State want) {
        return ClickOn(
            Control(ui::IDC_BTN_BEGIN_UPGRADE), [=] { return m_pDlg->State() == want; }, 30000);
    }
    bool StartOnLoopback(const std::string& folder) {
        Combo(ui::IDC_COMBO_LOCAL_IP)->SetValue("127.0.0.1");
        Combo(ui::IDC_COMBO_UPGRADE_FOLDER)->SetValue(wxString::FromUTF8(folder));
        return ClickStartStop(State::kRunning);
    }
    // Waits until the window has no Start or Stop in progress.
    bool WaitSettled(int timeoutMs = 30000) {
        return PumpUntil(
            [this] {
                return m_pDlg->State() == State::kStopped || m_pDlg->State() == State::kRunning;
            },
            timeoutMs);
    }

    // Start/Stop's caption; Pause shown only while running, the settings only usable stopped.
    void ExpectControls(bool running, const char* startStopLabel) {
        EXPECT_EQ(m_pDlg->Engine().IsRunning(), running);
        EXPECT_EQ(Label(ui::IDC_BTN_BEGIN_UPGRADE), startStopLabel);
        EXPECT_TRUE(Control(ui::IDC_BTN_BEGIN_UPGRADE)->IsEnabled());
        EXPECT_EQ(Control(ui::IDC_BTN_PAUSE_TEST)->IsShown(), running);
        for (int id : {ui::IDC_CHECK_FORCED_UPGRADE, ui::IDC_CHECK_SHOW_ALL,
                       ui::IDC_CHECK_IP_OCCUPANCY, ui::IDC_COMBO_LOCAL_IP,
                       ui::IDC_COMBO_UPGRADE_FOLDER, ui::IDC_COMBO_LANGUAGE, ui::IDC_BTN_BROWSE}) {
            EXPECT_EQ(Control(id)->IsEnabled(), !running) << id;
        }
    }

    TempDir m_dir;
    std::unique_ptr<ui::COrvaneDlg> m_pDlg;
    // The scripted picker: what it was preset to and what it answers ("" cancels).
    std::string m_szPickerPreset, m_szPickerAnswer;
    int m_iRestarts = 0;
};

// Catches wrong captions or states, a pause surviving Stop, the run's folder and boxes unread.
TEST_F(WindowTest, StartPauseContinueStop) {
    OpenWindow();
    const std::string folder = m_dir.File("fw");
    wxWindow* pause = Control(ui::IDC_BTN_PAUSE_TEST);

    auto* forced = wxStaticCast(Control(ui::IDC_CHECK_FORCED_UPGRADE), wxCheckBox);
    forced->SetValue(!forced->GetValue());
    ASSERT_TRUE(StartOnLoopback(folder));
    ExpectControls(true, "Stop upgrade");
    EXPECT_EQ(Label(ui::IDC_BTN_PAUSE_TEST), "Suspend upgrade");
    EXPECT_EQ(m_pDlg->Engine().View().GetUpgradeFolder(), folder);
    EXPECT_EQ(m_pDlg->Engine().View().IsForcedUpgrade(), forced->GetValue());
    // A folder typed by hand is used but not saved; nothing of the box is selected.
    EXPECT_EQ(ReadProfileString(m_dir.File("Config.ini"), "CNFINFO", "CurSelPath", 16), "-1");

    for (bool paused : {true, false, true}) {
        ASSERT_TRUE(ClickOn(pause, [&] { return m_pDlg->Engine().IsPaused() == paused; }));
        EXPECT_EQ(Label(ui::IDC_BTN_PAUSE_TEST),
                  paused ? "Continue to upgrade" : "Suspend upgrade");
    }

    ASSERT_TRUE(ClickStartStop(State::kStopped));
    ExpectControls(false, "Start upgrade");
    ASSERT_TRUE(ClickStartStop(State::kRunning));
    EXPECT_FALSE(m_pDlg->Engine().IsPaused());
    EXPECT_EQ(Label(ui::IDC_BTN_PAUSE_TEST), "Suspend upgrade");
}

// Catches Browse not reaching the folder history (preset, cancel, a choice cut to 259 chars).
TEST_F(WindowTest, BrowseKeepsTheFolderHistory) {
    std::string path;
    for (int i = 0; i < 10; ++i) {
        path += (i ? "|" : "") + m_dir.File("f" + std::to_string(i));
    }
    m_dir.Write("Config.ini", "[CNFINFO]\nPath=" + path + "\nCurSelPath=0\n");
    OpenWindow();
    // A Start on the box's first folder, as selected, saves that selection.
    Combo(ui::IDC_COMBO_LOCAL_IP)->SetValue("127.0.0.1");
    ASSERT_TRUE(ClickStartStop(State::kRunning));
    EXPECT_EQ(ReadProfileString(m_dir.File("Config.ini"), "CNFINFO", "CurSelPath", 16), "0");
    ASSERT_TRUE(ClickStartStop(State::kStopped));
    wxComboBox* box = Combo(ui::IDC_COMBO_UPGRADE_FOLDER);
    const std::string longPath = m_dir.File(std::string(300, 'n'));
    // The picker's answer ("" cancels), then the box's text, first entry and selection.
    for (const auto& [answer, value, first, selection] :
         {std::tuple{std::string(), m_dir.File("f0"), m_dir.File("f0"), 0},
          std::tuple{longPath, longPath.substr(0, 259), m_dir.File("f1"), 9}}) {
        SCOPED_TRACE(answer);
        const std::string preset = box->GetValue().utf8_string();
        m_szPickerAnswer = answer;
        m_szPickerPreset.clear();
        ASSERT_TRUE(
            ClickOn(Control(ui::IDC_BTN_BROWSE), [&] { return !m_szPickerPreset.empty(); }));
        EXPECT_EQ(m_szPickerPreset, preset);
        EXPECT_EQ(box->GetValue().utf8_string(), value);
        EXPECT_EQ(box->GetCount(), 10u);
        EXPECT_EQ(box->GetString(0).utf8_string(), first);
        EXPECT_EQ(box->GetSelection(), selection);
    }
}

// Catches a language choice not saved at once, mislabelled buttons, "OK"/"Restart Now" swapped.
TEST_F(WindowTest, LanguageQuestionBothAnswers) {
    m_dir.Write("Config.ini", "[CNFINFO]\nAppLanguage=1\n");
    OpenWindow();
    wxComboBox* box = Combo(ui::IDC_COMBO_LANGUAGE);
    ASSERT_EQ(box->GetSelection(), 1);
    for (auto [key, selection, answer, restarts] : {std::array<int, 4>{WXK_DOWN, 2, wxID_YES, 0},
                                                    std::array<int, 4>{WXK_UP, 1, wxID_NO, 1}}) {
        SCOPED_TRACE(selection);
        BoxSeen seen;
        box->SetFocus();
        wxTheApp->Yield(true);
        wxTEST_DIALOG(PressKey(key, [&] { return seen.iCount > 0; }), ExpectBox(answer, &seen));
        EXPECT_EQ(box->GetSelection(), selection);
        EXPECT_EQ(ReadProfileInt(m_dir.File("Config.ini"), "CNFINFO", "AppLanguage", -1),
                  selection);
        EXPECT_EQ(seen.yesLabel, "OK");
        EXPECT_EQ(seen.noLabel, "Restart Now");
        EXPECT_EQ(m_iRestarts, restarts);
    }
}

// Catches a close while running (Escape or request) not asking, acting on Cancel, or half-done.
TEST_F(WindowTest, CloseWhileRunningAsksFirst) {
    OpenWindow();
    ASSERT_TRUE(StartOnLoopback(m_dir.Path()));
    IpcInfo device;  // a row, as for a device waiting for cloud firmware
    device.szMac = "00:1A:2B:3C:4D:5E";
    m_pDlg->Engine().Devices().AddCloudDevice(device);
    BoxSeen seen;
    Control(ui::IDC_BTN_CLEAR_LIST)->SetFocus();
    wxTEST_DIALOG(PressKey(WXK_ESCAPE, [&] { return seen.iCount > 0; }),
                  ExpectBox(wxID_CANCEL, &seen));
    EXPECT_TRUE(seen.style & wxICON_WARNING);
    wxTheApp->Yield(true);
    EXPECT_FALSE(m_pDlg->IsClosed());
    EXPECT_TRUE(m_pDlg->Engine().IsRunning());
    wxTEST_DIALOG(m_pDlg->Close(), ExpectBox(wxID_OK, &seen));
    ASSERT_TRUE(PumpUntil([this] { return m_pDlg->IsClosed(); }, 30000));
    EXPECT_FALSE(m_pDlg->Engine().IsRunning());
    EXPECT_EQ(m_pDlg->Engine().Devices().RowCount(), 0);
}

// Catches a refused Start discarding the start-up reachability check (the note never shows).
TEST_F(WindowTest, RefusedStartKeepsTheStartupCheck) {
    TempDir serviceDir;
    UpdateService service;
    ASSERT_TRUE(service.Start(serviceDir.Path()));
    service.RootStatus("silent");
    OpenWindow();
    Combo(ui::IDC_COMBO_UPGRADE_FOLDER)->SetValue("");
    BoxSeen seen;
    wxTEST_DIALOG(ClickOn(Control(ui::IDC_BTN_BEGIN_UPGRADE), [&] { return seen.iCount > 0; }),
                  ExpectBox(wxID_OK, &seen));
    EXPECT_TRUE(WaitSettled());
    EXPECT_FALSE(Control(ui::IDC_STATIC_NET_FAILED)->IsShown());  // the check still runs
    EXPECT_TRUE(PumpUntil([this] { return Control(ui::IDC_STATIC_NET_FAILED)->IsShown(); }));
    service.Release();
    unsetenv("CURL_CA_BUNDLE");
}

// Catches the list's Save as CSV asking in the other language (or not at all).
TEST_F(WindowTest, SaveListAsksInTheWindowsLanguage) {
    OpenWindow();
    wxString title;
    wxCommandEvent save(wxEVT_MENU, ui::IDM_SAVE_CSV);
    wxTEST_DIALOG(m_pDlg->GetEventHandler()->ProcessEvent(save), CancelFileDialog(&title));
    EXPECT_EQ(title, "Save list as CSV");
}

// Catches the opening check's answer kept from the engine (no cloud firmware while idle).
TEST_F(WindowTest, OpeningCheckReachesTheEngine) {
    TempDir serviceDir;
    UpdateService service;
    ASSERT_TRUE(service.Start(serviceDir.Path()));
    OpenWindow();
    EXPECT_TRUE(PumpUntil([this] { return m_pDlg->Engine().IsNetConnected(); }));
    EXPECT_FALSE(Control(ui::IDC_STATIC_NET_FAILED)->IsShown());
    unsetenv("CURL_CA_BUNDLE");
}

// Catches rows or counters not shown, a window frozen by a crowd, Clear List leaving any.
TEST_F(WindowTest, DevicesFillRowsAndCountersClearListEmptiesThem) {
    constexpr int kDevices = 1000;
    OpenWindow();
    const std::string folder = m_dir.File("fw");
    fs::create_directory(folder);
    ASSERT_EQ(RunCommand({BinDir() + "/orvane-mkfw", "--version", "X_M100_V2.0.0.0", "--image",
                          "64K", folder + "/M100.bin"}),
              0);
    ASSERT_TRUE(StartOnLoopback(folder));
    // Cameras (M100 on 1.0.0.0) each on its own address: TFTP takes 8 transfers per address.
    ChildProcess devsim;
    ASSERT_TRUE(devsim.Start(
        {BinDir() + "/orvane-devsim", "--devices", std::to_string(kDevices), "--start-spread-ms",
         "4000", "--concurrency", "8", "--source-from", "127.2.0.1", "--fail-share", "0.2"},
        m_dir.Path(), m_dir.File("devsim.err")));
    const DeviceTable& model = m_pDlg->Engine().Devices();
    ASSERT_TRUE(PumpUntil([this] { return List()->GetItemCount() >= 100; }, 60000));
    ASSERT_TRUE(ClickOn(List(), [this] { return List()->GetSelectedItemCount() > 0; }));
    EXPECT_LT(model.RowCount(), kDevices) << "the click waited for the whole crowd";
    ASSERT_TRUE(PumpUntil(
        [&] {
            return List()->GetItemCount() == kDevices &&
                   Label(ui::IDC_STATIC_SUCCESS_COUNT) == std::to_string(kDevices * 4 / 5) &&
                   Label(ui::IDC_STATIC_FAIL_COUNT) == std::to_string(kDevices / 5);
        },
        120000))
        << ReadWholeFile(m_dir.File("devsim.err"));
    EXPECT_EQ(devsim.Wait(60000), 0);
    EXPECT_EQ(model.RowCount(), kDevices);
    for (int row = 0; row < kDevices; ++row) {
        EXPECT_EQ(List()->GetItemText(row, 0), wxString::Format("%d", row + 1));
        EXPECT_EQ(List()->GetItemText(row, 1), "M100");
        EXPECT_TRUE(List()->GetItemText(row, 2).StartsWith("127.0.0.")) << row;
    }

    ASSERT_TRUE(
        ClickOn(Control(ui::IDC_BTN_CLEAR_LIST), [this] { return List()->GetItemCount() == 0; }));
    EXPECT_EQ(Label(ui::IDC_STATIC_SUCCESS_COUNT), "0");
    EXPECT_EQ(model.RowCount() + model.SuccessCount() + model.FailCount(), 0);
}

// Catches batch settings not saved to Config.ini or not taken by Start, and a note line that
// does not tell what is in force (also at the next Start) or, in red, that the run halted or
// that the scope file cannot be read.
TEST_F(WindowTest, BatchSettingsSavedShownAndHaltTheRun) {
    TempDir serviceDir;
    UpdateService service;  // the network check succeeds: its note does not stand in the way
    ASSERT_TRUE(service.Start(serviceDir.Path()));
    m_dir.Write("Config.ini", "[CNFINFO]\r\nRecordFile=" + m_dir.File("upgrades.csv") + "\r\n");
    OpenWindow();
    const std::string folder = m_dir.File("fw");
    fs::create_directory(folder);
    ASSERT_EQ(RunCommand({BinDir() + "/orvane-mkfw", "--version", "X_M100_V2.0.0.0", "--image",
                          "16K", folder + "/M100.bin"}),
              0);
    m_dir.Write("scope.txt", "02:00:00:00:00:01\n02:00:00:00:00:02\n");
    wxCommandEvent open(wxEVT_MENU, ui::IDM_BATCH_SETTINGS);
    wxTEST_DIALOG(m_pDlg->GetEventHandler()->ProcessEvent(open),
                  FillBatchDialog(m_dir.File("scope.txt")));
    const BatchOptions saved = ReadBatchOptions(m_dir.File("Config.ini"));
    EXPECT_EQ(saved.szScopeFile, m_dir.File("scope.txt"));
    EXPECT_EQ(saved.iMaxAtOnce * 10 + saved.iHaltAfter, 11);
    wxWindow* note = Control(ui::IDC_STATIC_NET_FAILED);
    EXPECT_TRUE(note->IsShown());
    EXPECT_EQ(note->GetLabel(), "Scope: 2 devices, 1 at once, halt after 1 failures");
    EXPECT_NE(note->GetForegroundColour(), wxColour(255, 0, 0));

    ASSERT_TRUE(StartOnLoopback(folder));
    // One place: the second device still waits when the first one's failure halts the run.
    std::string out;
    RunCommand({BinDir() + "/orvane-devsim", "--devices", "3", "-j", "1", "--source-from",
                "127.2.0.1", "--fail-share", "1", "--request-tries", "2"},
               &out);
    EXPECT_TRUE(PumpUntil([note] { return note->GetLabel() == "Halted after 1 failures"; })) << out;
    EXPECT_EQ(note->GetForegroundColour(), wxColour(255, 0, 0));
    EXPECT_EQ(m_pDlg->Engine().Devices().FailCount(), 1);
    ASSERT_TRUE(ClickStartStop(State::kStopped));
    EXPECT_EQ(note->GetLabel(), "Halted after 1 failures") << "a halt stays in view after Stop";
    // The next Start says again what is in force; one refused for its scope file says why, red.
    ASSERT_TRUE(ClickStartStop(State::kRunning));
    EXPECT_EQ(note->GetLabel(), "Scope: 2 devices, 1 at once, halt after 1 failures");
    EXPECT_NE(note->GetForegroundColour(), wxColour(255, 0, 0));
    ASSERT_TRUE(ClickStartStop(State::kStopped));
    fs::remove(m_dir.File("scope.txt"));
    BoxSeen seen;
    wxTEST_DIALOG(ClickOn(Control(ui::IDC_BTN_BEGIN_UPGRADE), [&] { return seen.iCount > 0; }),
                  ExpectBox(wxID_OK, &seen));
    EXPECT_TRUE(WaitSettled());
    EXPECT_FALSE(m_pDlg->Engine().IsRunning());
    EXPECT_EQ(note->GetForegroundColour(), wxColour(255, 0, 0)) << note->GetLabel();
    unsetenv("CURL_CA_BUNDLE");
}

// Catches a text fitted to a free line that runs over a neighbour of its line: no control of
// the same line in the same language may stand in the middle of another's free span.
TEST(DialogLayoutTest, FreeLineSpansStopAtTheirNeighbours) {
    for (bool chinese : {false, true}) {
        const auto exists = [chinese](const ui::ControlLayout& c) {
            return c.kind != ui::ControlKind::kStatic || (chinese ? c.chineseText : c.englishText);
        };
        for (const ui::ControlLayout& c : ui::MainWindowControls()) {
            if (!exists(c)) {
                continue;
            }
            const ui::DluRect& own = chinese ? c.chinese : c.english;
            const ui::FreeSpan span = ui::FreeLineSpan(c, chinese);
            for (const ui::ControlLayout& o : ui::MainWindowControls()) {
                const ui::DluRect& r = chinese ? o.chinese : o.english;
                if (&o == &c || !exists(o) || r.y >= own.y + own.h || own.y >= r.y + r.h) {
                    continue;
                }
                const int middle2 = 2 * r.x + r.w;
                EXPECT_FALSE(middle2 > 2 * span.left && middle2 < 2 * span.right)
                    << chinese << " " << c.id << "/" << o.id << " at " << own.x << "," << own.y;
            }
        }
    }
}

// Catches one refresh per change flooding the event loop, or losing the newest row to scroll to.
TEST(WindowViewTest, BurstOfChangesIsCoalesced) {
    wxEvtHandler target;
    ui::UiPoster poster(&target);
    std::vector<int> refreshes;
    ui::WindowView view(poster, {[&](int row) { refreshes.push_back(row); }, [] {}, [](int) {},
                                 [](const std::string&) {}});
    DeviceTableChange change{DeviceTableChange::kRowAdded, 0, {}, 0, 0};
    std::thread engine([&] {
        for (change.rowIndex = 0; change.rowIndex < 5000; ++change.rowIndex) {
            view.OnDeviceTableChanged(change);
        }
    });
    engine.join();
    target.ProcessPendingEvents();
    poster.Detach();
    ASSERT_FALSE(refreshes.empty());
    EXPECT_LT(refreshes.size(), 50u);
    EXPECT_EQ(refreshes.back(), 4999);
}

// Catches a window front-end that hangs or dies without a display instead of naming --headless.
TEST(WindowStartTest, NoDisplayNamesHeadlessAndExits1) {
    TempDir dir;
    ChildProcess orvane;
    ASSERT_TRUE(orvane.Start({"/usr/bin/env", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY",
                              InstallProgram("orvane", dir.Path())},
                             dir.Path(), dir.File("stderr")));
    EXPECT_EQ(orvane.Wait(20000), 1);
    EXPECT_NE(ReadWholeFile(dir.File("stderr")).find("--headless"), std::string::npos);
}

// Catches a restart (after a language change) that drops the settings file --config named.
TEST(ProgramRestartTest, RestartKeepsTheSettingsFile) {
    TempDir dir;
    ChildProcess child;
    ASSERT_TRUE(child.Start({BinDir() + "/restart_child", "etc/Config.ini"}, dir.Path()));
    std::string line;
    ASSERT_TRUE(child.ReadLine(&line, 15000));
    EXPECT_EQ(line, "--config " + dir.File("etc/Config.ini"));
    EXPECT_EQ(child.Wait(15000), 0);
}

}  // namespace
}  // namespace orvane::test
