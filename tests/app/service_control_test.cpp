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

// Catches Start going on without a folder, with one no LAN host may be given or without a MAC,
// and the devices' rows and counts kept by a Start or cleared by a refused one.
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
    struct Case {
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
        {"127.0.0.1", "etc-link", false, false, StartRefusal::kBadFolder,
         "The upgrade file directory /"},
        {"127.0.0.1", "file.bin", false, false, StartRefusal::kBadFolder,
         "The upgrade file directory /"},
        {"192.0.2.1", "fw", false, true, StartRefusal::kNoMac, ""},  // no MAC for this address
        {"127.0.0.1", "fw", true, true, StartRefusal::kNone, ""},
    };
    for (const Case& c : cases) {
        StartSettings settings;
        settings.szLocalIP = c.ip;
        settings.szUpgradeFolder = *c.folder == '/' || !*c.folder ? c.folder : dir.File(c.folder);
        const StartResult result = control.Start(settings);
        EXPECT_EQ(result.bStarted, c.started) << c.folder;
        EXPECT_EQ(result.bCloudChecked, c.checked) << c.folder;
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
    EXPECT_TRUE(fs::is_regular_file(dir.File("file.bin")));
}

}  // namespace
}  // namespace orvane
