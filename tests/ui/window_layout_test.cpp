// The window view, start-up without a display and the restart.
#include <thread>

#include "window_fixture.h"

namespace orvane::test {
namespace {

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
