#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <string>

#include "common/child_process.h"
#include "common/netns.h"
#include "common/temp_dir.h"
#include "common/update_service.h"
#include "platform/udp_socket.h"
#include "tools/fmw_builder.h"

namespace orvane {
namespace {

constexpr int kWaitMs = 10000;

// Catches a headless service that never offers the cloud path (reachability not checked at
// Start, or the service's address and CA file not passed on) or whose cloud rows do not
// reach its table output: a device of a model without a file gets the downloaded one.
TEST(HeadlessCloudTest, DeviceWithoutLocalFileGetsTheDownloadedOne) {
    ORVANE_REQUIRE_PRIVATE_NETWORK();
    test::TempDir dir;
    test::TempDir serviceDir;
    test::TempDir filesDir;
    test::UpdateService service;
    test::UpdateService files;
    ASSERT_TRUE(service.Start(serviceDir.Path()));
    ASSERT_TRUE(files.StartPlain(filesDir.Path(), "127.0.0.2", 80));
    const std::string firmware = fwbuild::BuildIpcHeaderFile("X_M100_V2.0.0.1", 0, false);
    dir.Write("fw.bin.src", firmware);
    std::string md5;
    test::RunCommand({"/usr/bin/md5sum", dir.File("fw.bin.src")}, &md5);
    service.Reply(R"({"code":200,"data":{"model":"M100","device_identify":"M100_V2",)"
                  R"("file_url":"http://127.0.0.2/M100_V2.bin","file_md5":")" +
                  md5.substr(0, 32) + R"("}})");
    files.Reply(firmware);

    test::InstallProgram("orvane", dir.Path());
    dir.Write("Config.ini", "[CNFINFO]\r\nAppLanguage=2\r\n");
    std::filesystem::create_directory(dir.File("fw"));
    platform::UdpSocket replies;
    ASSERT_TRUE(replies.Open() && replies.SetReuseAddress() &&
                replies.Bind(platform::Endpoint{0, 10010}));
    test::ChildProcess orvane;
    ASSERT_TRUE(orvane.Start(
        {dir.File("orvane"), "--headless", "--ip", "127.0.0.1", "--folder", dir.File("fw")},
        dir.Path(), dir.File("stderr")));
    std::string line;
    ASSERT_TRUE(orvane.ReadLine(&line, kWaitMs));
    ASSERT_EQ(line, "ready\t127.0.0.1\t00:00:00:00:00:00");

    const std::string request =
        "Msg:Request_ipaddr\r\nVersion:M100-1.0.0.0\r\nCseq:1\r\nIPCMac:a\r\n";
    platform::UdpSocket device;
    ASSERT_TRUE(device.Open());
    ASSERT_EQ(device.SendTo(request.data(), request.size(), platform::Endpoint{0x7F000001u, 10011}),
              static_cast<long>(request.size()));
    for (const char* expected :
         {"row\t1\tM100\t\tCloud firmware download\t\tM100-1.0.0.0\t",
          "row\t1\tM100\t\tThe cloud firmware is downloaded successfully.\t\tM100-1.0.0.0\t"}) {
        ASSERT_TRUE(orvane.ReadLine(&line, kWaitMs)) << expected;
        EXPECT_EQ(line, expected);
    }
    ASSERT_EQ(replies.WaitReadable(kWaitMs), 1);
    char reply[2048] = {};
    ASSERT_GT(replies.ReceiveFrom(reply, sizeof reply - 1, nullptr), 0);
    EXPECT_NE(std::string(reply).find("\r\nFilePath:M100_V2.bin\r\n"), std::string::npos) << reply;
    EXPECT_EQ(test::ReadWholeFile(dir.File("fw/M100_V2.bin")), firmware);
    orvane.Signal(SIGTERM);
    EXPECT_EQ(orvane.Wait(kWaitMs), 0);
}

}  // namespace
}  // namespace orvane
