// The operator's commands, driven by real clicks, with the boxes they show answered.
#include <wx/checkbox.h>

#include "app/profile_file.h"
#include "common/update_service.h"
#include "window_fixture.h"

namespace orvane::test {
namespace {

namespace fs = std::filesystem;

wxString Text(int id) {
    return wxString::FromUTF8(LoadText(id));
}

class CommandsTest : public WindowTest {
  protected:
    // The controls with the service running or stopped: the Start/Stop caption, Pause shown
    // only while running, the settings usable only while stopped.
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
};

// Catches wrong captions or states through Start, Pause, Continue and Stop, a pause that
// survives a Stop into the next run, and the engine not reading the folder and boxes of the
// run.
TEST_F(CommandsTest, StartPauseContinueStop) {
    OpenWindow(kLanguageEnglish);
    const std::string folder = m_dir.File("fw");
    wxWindow* startStop = Control(ui::IDC_BTN_BEGIN_UPGRADE);
    wxWindow* pause = Control(ui::IDC_BTN_PAUSE_TEST);

    auto* forced = wxStaticCast(Control(ui::IDC_CHECK_FORCED_UPGRADE), wxCheckBox);
    forced->SetValue(!forced->GetValue());
    ASSERT_TRUE(StartOnLoopback(folder));
    EXPECT_TRUE(fs::is_directory(folder));
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

    ASSERT_TRUE(ClickOn(
        startStop, [this] { return m_pDlg->State() == State::kStopped; }, 30000));
    ExpectControls(false, "Start upgrade");

    ASSERT_TRUE(ClickOn(
        startStop, [this] { return m_pDlg->State() == State::kRunning; }, 30000));
    EXPECT_FALSE(m_pDlg->Engine().IsPaused());
    EXPECT_EQ(Label(ui::IDC_BTN_PAUSE_TEST), "Suspend upgrade");
}

// Catches Browse not reaching the folder history: the picker is preset to the box's text, a
// cancelled picker changes nothing, a chosen folder is added last and selected (cut to 259
// characters), the oldest going when ten are listed (the history's own rules are tested on
// FolderHistory); and the history's first folder not shown selected.
TEST_F(CommandsTest, BrowseKeepsTheFolderHistory) {
    std::string path;
    for (int i = 0; i < 10; ++i) {
        path += (i ? "|" : "") + m_dir.File("f" + std::to_string(i));
    }
    m_dir.Write("Config.ini", "[CNFINFO]\nPath=" + path + "\nCurSelPath=0\n");
    OpenWindow(kLanguageEnglish);
    wxComboBox* box = Combo(ui::IDC_COMBO_UPGRADE_FOLDER);
    const std::string longPath = m_dir.File(std::string(300, 'n'));
    struct Step {
        std::string answer;  // "": cancelled
        std::string value;
        std::string first;
        int selection;
    } steps[] = {
        {"", m_dir.File("f0"), m_dir.File("f0"), 0},
        {m_dir.File("new"), m_dir.File("new"), m_dir.File("f1"), 9},
        {longPath, longPath.substr(0, 259), m_dir.File("f2"), 9},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.answer);
        const std::string preset = box->GetValue().utf8_string();
        m_szPickerAnswer = s.answer;
        m_szPickerPreset.clear();
        ASSERT_TRUE(
            ClickOn(Control(ui::IDC_BTN_BROWSE), [&] { return !m_szPickerPreset.empty(); }));
        EXPECT_EQ(m_szPickerPreset, preset);
        EXPECT_EQ(box->GetValue().utf8_string(), s.value);
        EXPECT_EQ(box->GetCount(), 10u);
        EXPECT_EQ(box->GetString(0).utf8_string(), s.first);
        EXPECT_EQ(box->GetSelection(), s.selection);
    }
}

// Catches the language choice not being saved at once, the question's buttons not reading
// "OK" / "Restart Now", and a restart on "OK" or none on "Restart Now". Each choice is one key
// press on the box, as each press changes the selection and asks.
TEST_F(CommandsTest, LanguageQuestionBothAnswers) {
    m_dir.Write("Config.ini", "[CNFINFO]\nAppLanguage=1\n");
    OpenWindow(kLanguageEnglish);
    wxComboBox* box = Combo(ui::IDC_COMBO_LANGUAGE);
    ASSERT_EQ(box->GetSelection(), 1);
    struct Case {
        int key;
        int selection;
        int answer;
        int restarts;
    } cases[] = {{WXK_DOWN, 2, wxID_YES, 0}, {WXK_UP, 1, wxID_NO, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.selection);
        BoxSeen seen;
        box->SetFocus();
        wxTheApp->Yield(true);
        wxTEST_DIALOG(PressKey(c.key, [&] { return seen.iCount > 0; }), ExpectBox(c.answer, &seen));
        EXPECT_EQ(box->GetSelection(), c.selection);
        EXPECT_EQ(ReadProfileInt(m_dir.File("Config.ini"), "CNFINFO", "AppLanguage", -1),
                  c.selection);
        EXPECT_EQ(seen.message, Text(162));
        EXPECT_EQ(seen.caption, Text(159));
        EXPECT_EQ(seen.yesLabel, "OK");
        EXPECT_EQ(seen.noLabel, "Restart Now");
        EXPECT_EQ(m_iRestarts, c.restarts);
    }
}

// Catches a close while the service runs (Escape, or the window's close request) that does
// not ask, that does anything on Cancel, or that closes without stopping the service and
// clearing the table on OK.
TEST_F(CommandsTest, CloseWhileRunningAsksFirst) {
    OpenWindow(kLanguageEnglish);
    ASSERT_TRUE(StartOnLoopback(m_dir.Path()));
    IpcInfo device;  // a row, as for a device waiting for cloud firmware
    device.szMac = "00:1A:2B:3C:4D:5E";
    m_pDlg->Engine().Devices().AddCloudDevice(device);
    // Escape is a close request like any other; Cancel leaves everything as it was.
    BoxSeen seen;
    Control(ui::IDC_BTN_CLEAR_LIST)->SetFocus();
    wxTEST_DIALOG(PressKey(WXK_ESCAPE, [&] { return seen.iCount > 0; }),
                  ExpectBox(wxID_CANCEL, &seen));
    EXPECT_EQ(seen.message, Text(157));
    EXPECT_TRUE(seen.style & wxICON_WARNING);
    wxTheApp->Yield(true);
    EXPECT_FALSE(m_pDlg->IsClosed());
    EXPECT_TRUE(m_pDlg->Engine().IsRunning());
    wxTEST_DIALOG(m_pDlg->Close(), ExpectBox(wxID_OK, &seen));
    EXPECT_EQ(seen.message, Text(157));
    ASSERT_TRUE(PumpUntil([this] { return m_pDlg->IsClosed(); }, 30000));
    EXPECT_FALSE(m_pDlg->Engine().IsRunning());
    EXPECT_EQ(m_pDlg->Engine().Devices().RowCount(), 0);
}

// Catches a refused Start discarding the answer of the reachability check that runs since the
// window opened: with an update service that never answers, the network note must show once
// that check gives up, although a Start was refused meanwhile.
TEST_F(CommandsTest, RefusedStartKeepsTheStartupCheck) {
    TempDir serviceDir;
    UpdateService service;
    ASSERT_TRUE(service.Start(serviceDir.Path()));
    service.RootStatus("silent");
    OpenWindow(kLanguageEnglish);
    Combo(ui::IDC_COMBO_UPGRADE_FOLDER)->SetValue("");
    BoxSeen seen;
    wxTEST_DIALOG(ClickOn(Control(ui::IDC_BTN_BEGIN_UPGRADE), [&] { return seen.iCount > 0; }),
                  ExpectBox(wxID_OK, &seen));
    EXPECT_TRUE(WaitSettled());
    EXPECT_FALSE(Control(ui::IDC_STATIC_NET_FAILED)->IsShown());  // the check still runs
    EXPECT_TRUE(PumpUntil([this] { return Control(ui::IDC_STATIC_NET_FAILED)->IsShown(); }));
    service.Release();
    unsetenv("CURL_CA_BUNDLE");
    unsetenv("ORVANE_UPDATE_HOST");
}

}  // namespace
}  // namespace orvane::test
