// Devices' roads through the real engine on real sockets: request in on 10011, reply bytes
// out on 10010, reports in, rows and counters out.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/netns.h"
#include "common/temp_dir.h"
#include "engine_harness.h"
#include "platform/udp_socket.h"
#include "protocol/orvane_engine.h"
#include "support/language.h"
#include "support/log.h"
#include "tools/fmw_builder.h"

namespace orvane {
namespace {

using platform::Endpoint;
constexpr int kWaitMs = 5000;

// Waits until row `row` and the success counter are as given.
bool WaitRow(test::RowsView& view, int row, const DeviceRow& texts, int successes) {
    return view.Wait([&](const test::RowsView::Rows& rows, int counted) {
        return static_cast<int>(rows.size()) > row && rows[row] == texts && counted == successes;
    });
}

// Catches a camera's, a recorder's or an up-to-date device's road going wrong anywhere: the
// reply's bytes (Cseq, server MAC and address, the address walk, version, file, the NUL) and
// its source, the row the first report makes, the stage that ends the upgrade (file system
// for a camera, update for a recorder), the upgraded version shown and the success counted
// once.
TEST(DeviceRoadTest, CameraRecorderAndUpToDateDeviceOnTheWire) {
    ORVANE_REQUIRE_PRIVATE_NETWORK();
    test::TempDir dir;
    InitLog(kLogInfo, dir.File("Upgrade.log").c_str());
    SetThreadUiLanguage(kLanguageEnglish);
    dir.Write("c300.bin", fwbuild::BuildIpcHeaderFile("Y_C300_V3.0.0.0", 0, false));
    dir.Write("n200.bin", fwbuild::BuildNvrHeaderFile("N200_V2.0.0.7", 0, false));
    platform::UdpSocket replies;
    ASSERT_TRUE(replies.Open() && replies.SetReuseAddress() &&
                replies.Bind(Endpoint{0, kReplyPort}));
    test::RowsView view;
    view.SetShowAllDevices(true);
    OrvaneEngine engine(view);
    ASSERT_TRUE(engine.StartService(ServiceConfig{"127.0.0.1", "00:1A:2B:3C:4D:5E", dir.Path()}));
    ASSERT_EQ(engine.WaitListening(kWaitMs), 1);

    struct Step {
        const char* keyword;
        const char* schedule;
        const char* state;
        const char* status;
        bool done;  // the upgraded version shows and the success is counted
    };
    struct Device {
        const char* version;
        const char* cseq;
        std::string reply;
        std::vector<Step> steps;
        DeviceRow row;  // at the end; the steps set status, schedule and upgraded version
    };
    const Device devices[] = {
        {"C300-2.0.0.0",
         "41",
         "Msg:Request_ipaddr\r\n"           // type line, as the request's
         "Cseq:42\r\n"                      // the request's plus one
         "ServerMac:00:1A:2B:3C:4D:5E\r\n"  // serving adapter
         "ServerIP:127.0.0.1\r\n"           // serving address
         "Ipaddr:127.0.0.10\r\n"            // first address of the walk
         "IPCMac:d0\r\n"                    // echoed
         "Version:C300-3.0.0.0\r\n"         // firmware version
         "FilePath:c300.bin\r\n",           // TFTP name
         {{"Report_Downloading", "50", "1", "Is downloading", false},
          {"Report_Kernel", "100", "0", "kernel is written successfully", false},
          {"Report_Filesystem", "100", "0", "Upgrade complete", true}},
         {"1", "C300", "127.0.0.10", "", "", "C300-2.0.0.0", "C300-3.0.0.0"}},
        {"N200-2.0.0.1",
         "abc",  // no digits: 0
         "Msg:Request_ipaddr\r\nCseq:1\r\nServerMac:00:1A:2B:3C:4D:5E\r\nServerIP:127.0.0.1\r\n"
         "Ipaddr:127.0.0.11\r\nIPCMac:d1\r\nVersion:N200-2.0.0.7\r\nFilePath:n200.bin\r\n",
         {{"Report_Downloading", "10", "1", "Is downloading", false},
          {"Report_Filesystem", "100", "0", "Upgrade complete", false},
          {"Report_Update", "100", "0", "Upgrade complete", true}},
         {"2", "N200", "127.0.0.11", "", "", "N200-2.0.0.1", "N200-2.0.0.7"}},
        {"N200-2.0.0.7",
         "7",
         "Msg:Request_ipaddr\r\nCseq:8\r\nIPCMac:d2\r\n",
         {},
         {"3", "N200", "", "It is already the latest version", "", "N200-2.0.0.7", ""}},
    };
    int successes = 0;
    for (int d = 0; d < static_cast<int>(std::size(devices)); ++d) {
        const Device& dev = devices[d];
        SCOPED_TRACE(dev.version);
        const std::string mac = "d" + std::to_string(d);
        test::SendToListener(std::string("Msg:Request_ipaddr\r\nVersion:") + dev.version +
                             "\r\nCseq:" + dev.cseq + "\r\nIPCMac:" + mac + "\r\n");
        ASSERT_EQ(replies.WaitReadable(kWaitMs), 1);
        char buf[kMaxDatagram];
        Endpoint from;
        long n = replies.ReceiveFrom(buf, sizeof buf, &from);
        EXPECT_EQ(std::string(buf, n > 0 ? n : 0), dev.reply + '\0');  // the text, then a NUL
        EXPECT_EQ(from.Address(), "127.0.0.1");                        // the serving address
        DeviceRow row = dev.row;
        for (const Step& s : dev.steps) {
            SCOPED_TRACE(s.keyword);
            test::SendToListener(std::string("Msg:") + s.keyword + "\r\nIpaddr:" + row[2] +
                                 "\r\nIPCMac:" + mac + "\r\nSchedule:" + s.schedule +
                                 "\r\nState:" + s.state + "\r\nVersion:" + dev.version + "\r\n");
            row[3] = s.status;
            row[4] = std::string(s.schedule) + "%";
            row[6] = s.done ? dev.row[6] : "";
            successes += s.done ? 1 : 0;
            EXPECT_TRUE(WaitRow(view, d, row, successes)) << engine.Devices().Row(d)[3];
        }
        if (dev.steps.empty()) {
            EXPECT_TRUE(WaitRow(view, d, row, successes));
        }
    }
    EXPECT_EQ(engine.Devices().RowCount(), 3);
    engine.StopService();
    SetThreadUiLanguage(0);
    InitLog(kLogMajor, "");
}

}  // namespace
}  // namespace orvane
