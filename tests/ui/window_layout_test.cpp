// The window as built: its layouts, the device list over the model, start-up without a display
// and the restart.
#include <thread>

#include "ui/wx/about_dlg.h"
#include "window_fixture.h"

namespace orvane::test {
namespace {

using ui::ControlKind;

// Catches a control missing, or placed outside the window or over another one, in either
// language (a label that does not wrap, or the wrong font, pushes controls out of place), and
// the start-up state of the failure count, the Pause button and the network note.
TEST_F(WindowTest, EachLanguageShowsItsLayout) {
    for (int language : {kLanguageEnglish, kLanguageChinese}) {
        SCOPED_TRACE(language);
        OpenWindow(language);
        const wxRect client(wxPoint(0, 0), m_pDlg->GetClientSize());
        std::vector<wxRect> taken;  // the controls an operator works with
        for (const ui::ControlLayout& c : ui::MainWindowControls()) {
            wxWindow* control = c.id ? Control(c.id) : nullptr;
            if (!control) {
                continue;
            }
            const wxRect r = control->GetRect();
            EXPECT_TRUE(client.Contains(r)) << c.id;
            if (c.kind != ControlKind::kStatic) {
                for (const wxRect& other : taken) {
                    EXPECT_FALSE(other.Intersects(r)) << c.id << " overlaps another control";
                }
                taken.push_back(r);
            }
        }
        for (int hidden :
             {ui::IDC_STATIC_FAIL, ui::IDC_STATIC_FAIL_COUNT, ui::IDC_BTN_PAUSE_TEST}) {
            EXPECT_FALSE(Control(hidden)->IsShown()) << hidden;
        }
        // Nothing answers on the update host here: the note shows once the check is over.
        wxWindow* note = Control(ui::IDC_STATIC_NET_FAILED);
        EXPECT_TRUE(PumpUntil([note] { return note->IsShown(); }));
        EXPECT_TRUE(SaveScreenshot(
            m_pDlg.get(), language == kLanguageChinese ? "window-zh-idle" : "window-en-idle"));
        CloseAndDestroy();
    }
}

// Answers the About box, noting that it came.
class ExpectAbout : public wxExpectModalBase<ui::CAboutDlg, ExpectAbout> {
  public:
    explicit ExpectAbout(bool* shown) : m_pShown(shown) {}

  protected:
    int OnInvoked(ui::CAboutDlg*) const override {
        *m_pShown = true;
        return wxID_OK;
    }

  private:
    bool* m_pShown;
};

// Catches the About box being out of reach where the window has no system menu: F1 opens it.
TEST_F(WindowTest, F1OpensAboutBox) {
    OpenWindow(kLanguageEnglish);
    bool shown = false;
    wxTEST_DIALOG(PressKey(WXK_F1, [&shown] { return shown; }), ExpectAbout(&shown));
    EXPECT_TRUE(shown);
}

// Catches the view flooding the event loop with one refresh per model change, and a refresh
// that loses the last row to scroll to: a burst from an engine thread is shown in a few
// refreshes, the newest row last.
TEST(WindowViewTest, BurstOfChangesIsCoalesced) {
    wxEvtHandler target;
    ui::UiPoster poster(&target);
    std::vector<int> refreshes;
    ui::WindowView view(poster, {[&](int row) { refreshes.push_back(row); }, [] {}, [](int) {}});
    std::thread engine([&] {
        for (int row = 0; row < 5000; ++row) {
            DeviceTableChange change;
            change.kind = DeviceTableChange::kRowAdded;
            change.rowIndex = row;
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

// Catches a window front-end that hangs or dies without a display instead of pointing the
// operator to the headless mode.
TEST(WindowStartTest, NoDisplayNamesHeadlessAndExits1) {
    TempDir dir;
    ChildProcess orvane;
    ASSERT_TRUE(orvane.Start({"/usr/bin/env", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY",
                              InstallProgram("orvane", dir.Path())},
                             dir.Path(), dir.File("stderr")));
    EXPECT_EQ(orvane.Wait(20000), 1);
    EXPECT_NE(ReadWholeFile(dir.File("stderr")).find("--headless"), std::string::npos);
}

// Catches a restart after a language change that drops the settings file --config named, so
// the new instance reads (and saves) the one beside the program instead.
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
