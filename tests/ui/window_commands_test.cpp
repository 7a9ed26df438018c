// The operator's commands, driven by real clicks, with the boxes they show answered.
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/combobox.h>
#include <wx/listctrl.h>
#include <wx/uiaction.h>

#include <filesystem>

#include "app/profile_file.h"
#include "support/language.h"
#include "ui/wx/dlg_layout.h"
#include "window_fixture.h"

namespace orvane::test {
namespace {

namespace fs = std::filesystem;
using State = ui::COrvaneDlg::ServiceState;

wxString Text(int id) {
    return wxString::FromUTF8(LoadText(id));
}

class CommandsTest : public WindowTest {
  protected:
    // The setting controls are enabled (or disabled) together.
    void ExpectSettingsEnabled(bool enabled) {
        for (int id : {ui::IDC_CHECK_FORCED_UPGRADE, ui::IDC_CHECK_SHOW_ALL,
                       ui::IDC_CHECK_IP_OCCUPANCY, ui::IDC_COMBO_LOCAL_IP,
                       ui::IDC_COMBO_UPGRADE_FOLDER, ui::IDC_COMBO_LANGUAGE, ui::IDC_BTN_BROWSE}) {
            EXPECT_EQ(Control(id)->IsEnabled(), enabled) << id;
        }
    }
};

// Catches Start going ahead, or leaving the window half-started, when it must refuse: without
// a folder (a plain "Error" box) and without an address that has a MAC (the window's own
// warning box). Either way the window stays stopped with its settings usable.
TEST_F(CommandsTest, StartRefusalsLeaveTheWindowStopped) {
    struct Case {
        const char* address;
        bool withFolder;
        int textId;
        const char* caption;  // null: the program's name
        long icon;
    } cases[] = {
        {"127.0.0.1", false, 161, "Error", wxICON_NONE},
        {"", true, 153, nullptr, wxICON_WARNING},  // no adapter of this namespace is listed
    };
    OpenWindow(kLanguageEnglish);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.textId);
        Combo(ui::IDC_COMBO_LOCAL_IP)->SetValue(c.address);
        Combo(ui::IDC_COMBO_UPGRADE_FOLDER)->SetValue(c.withFolder ? m_dir.Path() : "");
        BoxSeen seen;
        wxTEST_DIALOG(ClickOn(Control(ui::IDC_BTN_BEGIN_UPGRADE), [&] { return seen.iCount > 0; }),
                      ExpectBox(wxID_OK, &seen));
        EXPECT_TRUE(WaitSettled());
        EXPECT_EQ(seen.message, Text(c.textId));
        EXPECT_EQ(seen.caption, c.caption ? wxString(c.caption) : wxString("ui_wx_tests"));
        EXPECT_TRUE(seen.style & c.icon);
        EXPECT_EQ(m_pDlg->State(), State::kStopped);
        EXPECT_FALSE(m_pDlg->Engine().IsRunning());
        EXPECT_EQ(Label(ui::IDC_BTN_BEGIN_UPGRADE), "Start Upgrade");
        EXPECT_TRUE(Control(ui::IDC_BTN_BEGIN_UPGRADE)->IsEnabled());
        EXPECT_FALSE(Control(ui::IDC_BTN_PAUSE_TEST)->IsShown());
        ExpectSettingsEnabled(true);
    }
    EXPECT_FALSE(fs::exists(m_dir.File("Config.ini")));  // neither got as far as saving
}

// Catches wrong captions or states through Start, Pause, Continue and Stop, and a pause that
// survives a Stop into the next run.
TEST_F(CommandsTest, StartPauseContinueStop) {
    OpenWindow(kLanguageEnglish);
    const std::string folder = m_dir.File("fw");
    wxWindow* startStop = Control(ui::IDC_BTN_BEGIN_UPGRADE);
    wxWindow* pause = Control(ui::IDC_BTN_PAUSE_TEST);

    ASSERT_TRUE(StartOnLoopback(folder));
    EXPECT_TRUE(fs::is_directory(folder));
    EXPECT_TRUE(m_pDlg->Engine().IsRunning());
    EXPECT_EQ(Label(ui::IDC_BTN_BEGIN_UPGRADE), "Stop upgrade");
    EXPECT_TRUE(pause->IsShown());
    EXPECT_EQ(Label(ui::IDC_BTN_PAUSE_TEST), "Suspend upgrade");
    ExpectSettingsEnabled(false);
    // A folder typed by hand is used but not saved; nothing of the box is selected.
    EXPECT_EQ(ReadProfileString(m_dir.File("Config.ini"), "CNFINFO", "CurSelPath", 16), "-1");

    for (bool paused : {true, false, true}) {
        ASSERT_TRUE(ClickOn(pause, [&] { return m_pDlg->Engine().IsPaused() == paused; }));
        EXPECT_EQ(Label(ui::IDC_BTN_PAUSE_TEST),
                  paused ? "Continue to upgrade" : "Suspend upgrade");
    }

    ASSERT_TRUE(ClickOn(
        startStop, [this] { return m_pDlg->State() == State::kStopped; }, 30000));
    EXPECT_FALSE(m_pDlg->Engine().IsRunning());
    EXPECT_EQ(Label(ui::IDC_BTN_BEGIN_UPGRADE), "Start upgrade");
    EXPECT_TRUE(startStop->IsEnabled());
    EXPECT_FALSE(pause->IsShown());
    ExpectSettingsEnabled(true);

    ASSERT_TRUE(ClickOn(
        startStop, [this] { return m_pDlg->State() == State::kRunning; }, 30000));
    EXPECT_FALSE(m_pDlg->Engine().IsPaused());
    EXPECT_EQ(Label(ui::IDC_BTN_PAUSE_TEST), "Suspend upgrade");
}

// Catches the folder history rules of Browse going wrong: the picker is preset to the box's
// text; a folder already listed is selected, not added; a new one (also one that differs
// only in letter case) is added last and selected, and the oldest goes when ten are listed;
// a cancelled picker changes nothing.
TEST_F(CommandsTest, BrowseKeepsTheFolderHistory) {
    std::string path;
    for (int i = 0; i < 10; ++i) {
        path += (i ? "|" : "") + m_dir.File("f" + std::to_string(i));
    }
    m_dir.Write("Config.ini", "[CNFINFO]\nPath=" + path + "\nCurSelPath=2\n");
    OpenWindow(kLanguageEnglish);
    wxComboBox* box = Combo(ui::IDC_COMBO_UPGRADE_FOLDER);
    struct Case {
        std::string answer;  // "" cancels
        std::string expectedPreset;
        std::string expectedText;
        unsigned expectedCount;
        std::string expectedFirst;
    } cases[] = {
        {"", m_dir.File("f2"), m_dir.File("f2"), 10, m_dir.File("f0")},
        {m_dir.File("f7"), m_dir.File("f2"), m_dir.File("f7"), 10, m_dir.File("f0")},
        {m_dir.File("F7"), m_dir.File("f7"), m_dir.File("F7"), 10, m_dir.File("f1")},
        {m_dir.File("new"), m_dir.File("F7"), m_dir.File("new"), 10, m_dir.File("f2")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answer);
        m_szPickerAnswer = c.answer;
        m_szPickerPreset.clear();
        ASSERT_TRUE(
            ClickOn(Control(ui::IDC_BTN_BROWSE), [&] { return !m_szPickerPreset.empty(); }));
        EXPECT_EQ(m_szPickerPreset, c.expectedPreset);
        EXPECT_EQ(box->GetValue().utf8_string(), c.expectedText);
        EXPECT_EQ(box->GetCount(), c.expectedCount);
        EXPECT_EQ(box->GetString(0).utf8_string(), c.expectedFirst);
        if (!c.answer.empty()) {
            EXPECT_EQ(box->GetSelection(), static_cast<int>(box->FindString(c.answer, true)));
        }
    }
}

// Catches the IP occupancy notice missing when the box is ticked, or shown when it is
// cleared, and the engine reading a stale state of the box.
TEST_F(CommandsTest, IpNoticeOnlyWhenTicking) {
    OpenWindow(kLanguageEnglish);
    auto* box = wxStaticCast(Control(ui::IDC_CHECK_IP_OCCUPANCY), wxCheckBox);
    BoxSeen seen;
    wxTEST_DIALOG(ClickOn(box, [&] { return seen.iCount > 0; }), ExpectBox(wxID_OK, &seen));
    EXPECT_EQ(seen.message, Text(158));
    EXPECT_EQ(seen.caption, Text(159));
    EXPECT_TRUE(seen.style & wxICON_INFORMATION);
    EXPECT_TRUE(box->GetValue());
    EXPECT_TRUE(m_pDlg->Engine().View().IsIpCheck());
    // Clearing it shows nothing (an unexpected box would fail the test).
    ASSERT_TRUE(ClickOn(box, [box] { return !box->GetValue(); }));
    EXPECT_EQ(seen.iCount, 1);
    EXPECT_FALSE(m_pDlg->Engine().View().IsIpCheck());
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
        PumpPending();
        wxUIActionSimulator sim;
        wxTEST_DIALOG(sim.Char(c.key);
                      PumpUntil([&] { return seen.iCount > 0; }), ExpectBox(c.answer, &seen));
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
    for (int answer : {wxID_CANCEL, wxID_OK}) {
        BoxSeen seen;
        if (answer == wxID_CANCEL) {
            // Escape is a close request like any other.
            Control(ui::IDC_BTN_CLEAR_LIST)->SetFocus();
            wxUIActionSimulator sim;
            wxTEST_DIALOG(sim.Char(WXK_ESCAPE);
                          PumpUntil([&] { return seen.iCount > 0; }), ExpectBox(answer, &seen));
        } else {
            wxTEST_DIALOG(m_pDlg->Close(), ExpectBox(answer, &seen));
        }
        EXPECT_EQ(seen.message, Text(157));
        EXPECT_TRUE(seen.style & wxICON_WARNING);
        if (answer == wxID_CANCEL) {
            PumpPending();
            EXPECT_FALSE(m_pDlg->IsClosed());
            EXPECT_TRUE(m_pDlg->Engine().IsRunning());
        }
    }
    ASSERT_TRUE(PumpUntil([this] { return m_pDlg->IsClosed(); }, 30000));
    EXPECT_FALSE(m_pDlg->Engine().IsRunning());
    EXPECT_EQ(m_pDlg->Engine().Devices().RowCount(), 0);
}

}  // namespace
}  // namespace orvane::test
