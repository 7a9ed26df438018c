#include "firmware/folder_watcher.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/temp_dir.h"
#include "platform/folder_watch.h"
#include "platform/thread.h"

namespace orvane {
namespace {

// Catches rescans posted more often than once per 3000 ms, a change inside the interval lost
// instead of held, or tick wrap-around breaking the interval. Steps: 'n' a new pacer at the tick,
// 'c' a change then, '-' none; then whether a rescan is due.
TEST(RescanPacerTest, AtMostOneRescanPerIntervalAndNoChangeLost) {
    struct Step {
        char act;
        uint32_t at;
        bool due;
    } steps[] = {
        {'n', 0, false},           {'c', 3000, true},         {'n', 0, false},
        {'c', 10, false},          {'-', 2999, false},        {'-', 3000, true},
        {'-', 3500, false},        {'c', 3600, false},        {'c', 3700, false},
        {'-', 5999, false},        {'-', 6000, true},         {'-', 9000, false},
        {'n', 0xFFFFFF00u, false}, {'c', 0xFFFFFF10u, false}, {'-', 0x100, false},
        {'-', 0xAB7, false},       {'-', 0xAB8, true},
    };
    std::optional<RescanPacer> pacer;
    for (const Step& s : steps) {
        if (s.act == 'n') {
            pacer.emplace(s.at);
            continue;
        }
        if (s.act == 'c') {
            pacer->OnChange();
        }
        EXPECT_EQ(pacer->Due(s.at), s.due) << s.at;
    }
}

// Catches the folder watch reporting subfolder changes, a file still being written or another
// kind of file, missing a create, rename, delete or finished write directly inside the folder,
// or no longer watching a folder removed and created again (its return and everything put in it
// afterwards unseen).
TEST(FolderWatchTest, ReportsChangesDirectlyInsideTheFolder) {
    test::TempDir dir;
    namespace fs = std::filesystem;
    fs::create_directories(dir.File("fw/sub"));
    dir.Write("fw/a.bin", "1");
    dir.Write("fw/Upgrade.log", "1");
    platform::FolderWatch watch;
    ASSERT_TRUE(watch.Open(dir.File("fw"), ".bin"));
    std::ofstream copy;  // a file written in two halves, as a copy in progress is
    struct Case {
        const char* name;
        std::function<void()> act;
        bool changed;
    };
    std::vector<Case> cases = {
        {"nothing", [] {}, false},
        {"create", [&] { dir.Write("fw/b.bin", "x"); }, true},
        {"rewrite", [&] { dir.Write("fw/a.bin", "longer content"); }, true},
        {"first half", [&] { copy.open(dir.File("fw/copy.bin")), copy << "half" << std::flush; },
         true},
        {"second half", [&] { copy << "second half" << std::flush; }, false},
        {"copy closed", [&] { copy.close(); }, true},
        {"log line", [&] { dir.Write("fw/Upgrade.log", "2"); }, false},
        {"rename", [&] { fs::rename(dir.File("fw/b.bin"), dir.File("fw/c.bin")); }, true},
        {"delete", [&] { fs::remove(dir.File("fw/c.bin")); }, true},
        {"subfolder file", [&] { dir.Write("fw/sub/x.bin", "x"); }, false},
        {"new folder", [&] { fs::create_directory(dir.File("fw/sub2")); }, true},
        {"renamed away", [&] { fs::rename(dir.File("fw"), dir.File("old")); }, true},
        {"file in the renamed folder", [&] { dir.Write("old/x.bin", "x"); }, false},
        {"gone: no failure, no spin", [] {}, false},
        {"folder created again", [&] { fs::create_directory(dir.File("fw")); }, true},
        {"file in it", [&] { dir.Write("fw/new.bin", "x"); }, true},
        // Windows keeps a watched folder, pending its removal, until the watch lets it go.
        {"folder removed", [&] { fs::remove_all(dir.File("fw")); }, true},
    };
    if (!platform::FolderWatch::kSeesCloseAfterWrite) {
        // Without a close to wait for, the write is the change, whenever the system tells it.
        cases[4] = {"second half and closed", [&] { copy << "second half", copy.close(); }, true};
        cases.erase(cases.begin() + 5);
    }
    using R = platform::FolderWatch::WaitResult;
    for (const Case& c : cases) {
        c.act();
        // A change is already queued when Wait starts, or found again within a few waits;
        // 200 ms bounds the no-change cases.
        bool changed = false;
        for (int i = 0; i < (c.changed ? 4 : 1) && !changed; ++i) {
            changed = watch.Wait(200) == R::kChanged;
        }
        EXPECT_EQ(changed, c.changed) << c.name;
    }
}

// Catches a watcher that only notices Stop at the next change in the folder, or that does not
// fail on a folder it cannot watch.
TEST(WatchDirectoryTest, EndsSoonAfterStopAndReportsMissingFolder) {
    test::TempDir dir;
    std::atomic<int> running{1};
    EXPECT_EQ(WatchDirectory(dir.File("absent"), running, [] { return true; }), -1);
    platform::Thread watcher;
    ASSERT_TRUE(
        watcher.Start([&] { return WatchDirectory(dir.Path(), running, [] { return true; }); }));
    running = 0;
    EXPECT_TRUE(watcher.Wait(1000));  // the engine's Stop waits this long
    EXPECT_EQ(watcher.Result(), 0);
}

}  // namespace
}  // namespace orvane
