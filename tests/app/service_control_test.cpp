#include "app/service_control.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "common/netns.h"
#include "common/recording_view.h"
#include "common/temp_dir.h"
#include "common/update_service.h"

namespace orvane {
namespace {

namespace fs = std::filesystem;

// Catches the reachability result not reaching the engine (cloud requests would be queued or
// refused wrongly) and a missing folder not being created at Start.
TEST(ServiceControlTest, StartCreatesFolderAndRecordsReachability) {
    ORVANE_REQUIRE_PRIVATE_NETWORK();
    test::TempDir dir;
    test::UpdateService service;
    ASSERT_TRUE(service.Start(dir.Path()));
    for (const char* status : {"200", "503"}) {
        service.RootStatus(status);
        const std::string folder = dir.File(std::string("fw") + status);
        test::RecordingView view;
        OrvaneEngine engine(view);
        engine.SetNetConnected(std::string(status) != "200");  // the opposite of what is due
        ServiceControl control(engine, view, dir.File("Config.ini"));
        StartSettings settings;
        settings.szLocalIP = "127.0.0.1";
        settings.szUpgradeFolder = folder;
        StartResult result = control.Start(settings);
        EXPECT_TRUE(fs::is_directory(folder)) << status;
        EXPECT_TRUE(result.bCloudChecked) << status;
        EXPECT_EQ(result.bNetConnected, std::string(status) == "200") << status;
        EXPECT_EQ(engine.IsNetConnected(), result.bNetConnected) << status;
        control.Stop();
    }
    unsetenv("CURL_CA_BUNDLE");
}

// Catches Start going on without a folder (and nothing checked, saved or started)
// or without a MAC, Start keeping the last run's rows, records or counts, and a refused Start
// clearing them: both front-ends rely on the shared sequence for this.
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
    struct Case {
        const char* ip;
        const char* folder;
        bool started;
        bool checked;
        StartRefusal refusal;
    } cases[] = {
        {"127.0.0.1", "", false, false, StartRefusal::kNoFolder},
        {"192.0.2.1", "fw", false, true, StartRefusal::kNoMac},  // no MAC for this address
        {"127.0.0.1", "fw", true, true, StartRefusal::kNone},
    };
    for (const Case& c : cases) {
        StartSettings settings;
        settings.szLocalIP = c.ip;
        settings.szUpgradeFolder = *c.folder ? dir.File(c.folder) : "";
        const StartResult result = control.Start(settings);
        EXPECT_EQ(result.bStarted, c.started) << c.ip;
        EXPECT_EQ(result.bCloudChecked, c.checked) << c.ip;
        EXPECT_EQ(result.eRefusal, c.refusal) << c.ip;
        EXPECT_EQ(engine.IsRunning(), c.started) << c.ip;
        EXPECT_EQ(fs::exists(dir.File("Config.ini")), c.started) << c.ip;
        EXPECT_EQ(engine.Devices().RowCount(), c.started ? 0 : 1) << c.ip;
        EXPECT_EQ(engine.Devices().Records().size(), c.started ? 0u : 1u) << c.ip;
        EXPECT_EQ(engine.Devices().FailCount(), c.started ? 0 : 1) << c.ip;
    }
    control.Stop();
}

}  // namespace
}  // namespace orvane
