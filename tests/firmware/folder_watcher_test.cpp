#include "firmware/folder_watcher.h"

#include <gtest/gtest.h>

#include <atomic>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "common/temp_dir.h"
#include "platform/folder_watch.h"
#include "platform/thread.h"

namespace orvane {
namespace {

using Wait = FolderWatchHooks::Wait;

// Catches rescans posted more often than once per 3000 ms, a change inside the interval
// lost instead of held, or tick wrap-around breaking the interval.
TEST(RescanPacerTest, AtMostOneRescanPerIntervalAndNoChangeLost) {
    struct Step {
        uint32_t at;
        bool change;
        bool due;  // Due(at) after the change, if any
    };
    struct Case {
        const char* name;
        uint32_t start;
        std::vector<Step> steps;
    } cases[] = {
        {"change after the interval", 0, {{3000, true, true}}},
        {"change inside the interval is held",
         0,
         {{10, true, false}, {2999, false, false}, {3000, false, true}, {3500, false, false}}},
        {"burst gives one rescan",
         0,
         {{3100, true, true},
          {3200, true, false},
          {3300, true, false},
          {6099, false, false},
          {6100, false, true},
          {9000, false, false}}},
        {"tick wraps",
         0xFFFFFF00u,
         {{0xFFFFFF10u, true, false},
          {0x00000100u, false, false},
          {0x00000AB7u, false, false},
          {0x00000AB8u, false, true}}},
    };
    for (const Case& c : cases) {
        RescanPacer pacer(c.start);
        for (const Step& s : c.steps) {
            if (s.change) {
                pacer.OnChange();
            }
            EXPECT_EQ(pacer.Due(s.at), s.due) << c.name << " at " << s.at;
        }
    }
}

// A scripted run of the watcher loop, 100 ms per wait; the posting times.
struct ScriptedWatch {
    std::deque<Wait> script;
    uint32_t now = 0;
    int waits = 0;
    int pauses = 0;
    std::vector<uint32_t> posts;

    std::vector<uint32_t> Run() {
        std::atomic<int> running{1};
        FolderWatchHooks hooks;
        hooks.wait = [&](int timeoutMs) {
            ++waits;
            EXPECT_TRUE(timeoutMs >= 0 && timeoutMs <= kWatchPollMs) << timeoutMs;
            now += 100;
            Wait r = script.front();
            script.pop_front();
            running = script.empty() ? 0 : 1;
            return r;
        };
        hooks.postRescan = [this] {
            posts.push_back(now);
            return true;
        };
        hooks.tick = [this] { return now; };
        hooks.pause = [this](int ms) {
            ++pauses;
            now += static_cast<uint32_t>(ms);
        };
        EXPECT_EQ(RunFolderWatch(hooks, running), 0);
        return posts;
    }
};

// Catches changes posted unpaced, a change early after start lost, a failing wait retried
// without a pause (a busy spin), or the loop ending on a failure instead of trying again.
TEST(RunFolderWatchTest, ChangesArePostedPacedAndFailuresRetried) {
    ScriptedWatch w;
    // Changes at 100 and 200 ms, quiet until 3000 ms, a change at 3500 ms that waits for 6000.
    w.script.assign(40, Wait::kTimeout);
    w.script[0] = w.script[1] = w.script[34] = Wait::kChanged;
    EXPECT_EQ(w.Run(), (std::vector<uint32_t>{3000}));

    ScriptedWatch failing;
    failing.script.assign(50, Wait::kFailed);
    failing.script.push_back(Wait::kTimeout);
    EXPECT_TRUE(failing.Run().empty());
    EXPECT_EQ(failing.waits, 51);
    EXPECT_EQ(failing.pauses, 50);
}

// Catches the folder watch reporting subfolder changes or a file still being written, or
// missing a create, rename, delete or finished write directly inside the folder.
TEST(FolderWatchTest, ReportsChangesDirectlyInsideTheFolder) {
    test::TempDir dir;
    std::filesystem::create_directory(dir.File("sub"));
    dir.Write("a.bin", "1");
    dir.Write("Upgrade.log", "1");
    platform::FolderWatch watch;
    ASSERT_TRUE(watch.Open(dir.Path(), ".bin"));
    using R = platform::FolderWatch::WaitResult;
    std::ofstream copy;  // a file written in two halves, as a copy in progress is
    struct Case {
        const char* name;
        std::function<void()> act;
        R expected;
    } cases[] = {
        {"nothing", [] {}, R::kTimeout},
        {"create", [&] { dir.Write("b.bin", "x"); }, R::kChanged},
        {"rewrite", [&] { dir.Write("a.bin", "longer content"); }, R::kChanged},
        {"first half",
         [&] {
             copy.open(dir.File("copy.bin"));
             copy << "half" << std::flush;
         },
         R::kChanged},
        {"second half", [&] { copy << "second half" << std::flush; }, R::kTimeout},
        {"copy closed", [&] { copy.close(); }, R::kChanged},
        {"log line", [&] { dir.Write("Upgrade.log", "2"); }, R::kTimeout},
        {"rename", [&] { std::filesystem::rename(dir.File("b.bin"), dir.File("c.bin")); },
         R::kChanged},
        {"delete", [&] { std::filesystem::remove(dir.File("c.bin")); }, R::kChanged},
        {"subfolder file", [&] { dir.Write("sub/x.bin", "x"); }, R::kTimeout},
        {"new folder", [&] { std::filesystem::create_directory(dir.File("sub2")); }, R::kChanged},
    };
    for (const Case& c : cases) {
        c.act();
        // A change is already queued when Wait starts; 200 ms bounds the no-change cases.
        EXPECT_EQ(watch.Wait(200), c.expected) << c.name;
    }
    platform::FolderWatch missing;
    EXPECT_FALSE(missing.Open(dir.File("absent")));
    EXPECT_EQ(missing.LastError(), ENOENT);
    EXPECT_FALSE(missing.Open(dir.File("a.bin")));
    EXPECT_EQ(missing.LastError(), ENOTDIR);
}

// Catches a folder removed and created again while watched being watched no longer: its
// return and everything put in it afterwards went unseen.
TEST(FolderWatchTest, FolderCreatedAgainIsWatchedAgain) {
    test::TempDir dir;
    const std::string folder = dir.File("fw");
    std::filesystem::create_directory(folder);
    platform::FolderWatch watch;
    ASSERT_TRUE(watch.Open(folder));
    using R = platform::FolderWatch::WaitResult;
    // A change is already queued when Wait starts; a few waits bound the search for the
    // folder's return.
    auto changed = [&watch] {
        for (int i = 0; i < 4; ++i) {
            if (watch.Wait(200) == R::kChanged) {
                return true;
            }
        }
        return false;
    };
    std::filesystem::remove(folder);
    EXPECT_TRUE(changed());
    EXPECT_EQ(watch.Wait(200), R::kTimeout);  // gone: no failure, no spin
    std::filesystem::create_directory(folder);
    EXPECT_TRUE(changed());
    dir.Write("fw/new.bin", "x");
    EXPECT_TRUE(changed());
    std::filesystem::rename(folder, dir.File("old"));  // renamed away: no longer the folder
    EXPECT_TRUE(changed());
    dir.Write("old/x.bin", "x");
    EXPECT_EQ(watch.Wait(200), R::kTimeout);
}

// Catches a watcher that only notices Stop at the next change in the folder, or that does not
// fail on a folder it cannot watch.
TEST(WatchDirectoryTest, EndsSoonAfterStopAndReportsMissingFolder) {
    test::TempDir dir;
    std::atomic<int> running{1};
    EXPECT_EQ(WatchDirectory(dir.File("absent"), running, [] { return true; }), -1);

    std::atomic<int> posts{0};
    platform::Thread watcher;
    ASSERT_TRUE(watcher.Start([&] {
        return WatchDirectory(dir.Path(), running, [&] {
            ++posts;
            return true;
        });
    }));
    running = 0;
    EXPECT_TRUE(watcher.Wait(1000));  // the engine's Stop waits this long
    EXPECT_EQ(watcher.Result(), 0);
}

}  // namespace
}  // namespace orvane
