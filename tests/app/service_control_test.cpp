#include "app/service_control.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "common/netns.h"
#include "common/recording_view.h"
#include "common/temp_dir.h"

namespace orvane {
namespace {

namespace fs = std::filesystem;

// Catches Start going on without a fit folder or a MAC, a folder not made, the cloud check's
// result lost, the devices' rows and counts kept by a Start or cleared by a refused one, and
// a control's record left observing the table after the control has gone.
TEST(ServiceControlTest, RefusedStartKeepsTheDevicesAStartedOneClearsThem) {
    ORVANE_REQUIRE_PRIVATE_NETWORK();
    test::TempDir dir;
    test::RecordingView view;
    OrvaneEngine engine(view);
    ServiceControl control(engine, view, dir.File("Config.ini"));
    IpcInfo failed;
    failed.szMac = "aa";
    failed.szState = "6";
    engine.Devices().UpdateDeviceTable(failed);  // a row and a record
    engine.Devices().UpdateDeviceTable(failed);  // a failure counted
    ASSERT_EQ(engine.Devices().FailCount(), 1);
    dir.Write("file.bin", "x");
    fs::create_symlink("/etc", dir.File("etc-link"));
    const struct {
        const char* ip;
        const char* folder;  // inside the test's folder unless absolute
        bool started;
        bool checked;
        StartRefusal refusal;
        const char* message;  // the start of the refusal's text
    } cases[] = {
        {"127.0.0.1", "", false, false, StartRefusal::kNoFolder, ""},
        {"127.0.0.1", "/", false, false, StartRefusal::kBadFolder,
         "The upgrade file directory / is a system folder"},
        {"127.0.0.1", "/etc", false, false, StartRefusal::kBadFolder,
         "The upgrade file directory /etc is a system"},
        {"127.0.0.1", "/etc/ssl", false, false, StartRefusal::kBadFolder,
         "The upgrade file directory /etc/ssl is a system"},
        {"127.0.0.1", "etc-link", false, false, StartRefusal::kBadFolder,
         "The upgrade file directory /"},
        {"127.0.0.1", "file.bin", false, false, StartRefusal::kBadFolder,
         "The upgrade file directory /"},
        {"192.0.2.1", "fw", false, true, StartRefusal::kNoMac, ""},  // no MAC for this address
        {"127.0.0.1", "fw", true, true, StartRefusal::kNone, ""},
    };
    for (const auto& c : cases) {
        StartSettings settings;
        settings.szLocalIP = c.ip;
        settings.szUpgradeFolder = *c.folder == '/' || !*c.folder ? c.folder : dir.File(c.folder);
        engine.SetNetConnected(true);  // no update service here: a check finds it unreachable
        const StartResult result = control.Start(settings);
        EXPECT_EQ(result.bStarted, c.started) << c.folder;
        EXPECT_EQ(result.bCloudChecked, c.checked) << c.folder;
        EXPECT_EQ(engine.IsNetConnected() || result.bNetConnected, !c.checked) << c.folder;
        EXPECT_EQ(result.eRefusal, c.refusal) << c.folder;
        EXPECT_EQ(result.szMessage.rfind(c.message, 0), 0u) << result.szMessage;
        EXPECT_NE(result.szMessage.empty(), *c.message != 0) << c.folder;
        EXPECT_EQ(engine.IsRunning(), c.started) << c.ip;
        EXPECT_EQ(fs::exists(dir.File("Config.ini")), c.started) << c.ip;
        EXPECT_EQ(engine.Devices().RowCount(), c.started ? 0 : 1) << c.ip;
        EXPECT_EQ(engine.Devices().Records().size(), c.started ? 0u : 1u) << c.ip;
        EXPECT_EQ(engine.Devices().FailCount(), c.started ? 0 : 1) << c.ip;
    }
    control.Stop();
    EXPECT_TRUE(fs::is_directory(dir.File("fw")));
    EXPECT_TRUE(fs::is_regular_file(dir.File("file.bin")));
    // A control that goes leaves no observer in the engine that outlives it (the sanitizer
    // build sees the use after its end).
    { ServiceControl gone(engine, view, dir.File("Config.ini")); }
    engine.Devices().UpdateDeviceTable(failed);
}

}  // namespace
}  // namespace orvane
