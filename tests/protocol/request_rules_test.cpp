#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>

#include "common/recording_view.h"
#include "protocol/report_handler.h"
#include "protocol/request_handler.h"
#include "support/language.h"

namespace orvane {
namespace {

UpgradeFileInfo File(const char* model, const char* verNum, int highest) {
    UpgradeFileInfo f;
    std::strcpy(f.szModel, model);
    std::strcpy(f.szVerNum, verNum);
    std::snprintf(f.szVersion, sizeof f.szVersion, "%s-%s", model, verNum);
    f.iHighestVersion = highest;
    return f;
}

// Keeps each reply, and what the table held for its device as it left.
class RecordingSender : public ReplySender {
  public:
    explicit RecordingSender(const DeviceTable& table) : m_table(table) {}
    void SendToIPC(const std::string& reply) override {
        m_replies.push_back(reply);
        m_recordedFirst.push_back(m_table.Records().size());
    }
    const DeviceTable& m_table;
    std::vector<std::string> m_replies;
    std::vector<size_t> m_recordedFirst;  // the table's records at each send
};

// The request and report handling on their own: no threads, no sockets, a recording sender.
class RequestRulesTest : public ::testing::Test {
  protected:
    void SetUp() override { SetThreadUiLanguage(kLanguageEnglish); }
    void TearDown() override { SetThreadUiLanguage(0); }

    test::RecordingView m_view;
    DeviceTable m_table{m_view};
    BatchGate m_batch;
    UpgradeCatalogue m_catalogue{&m_counters.firmwareRefused, nullptr};
    CloudRequestQueue m_cloud;
    IpAllocator m_allocator{[] { return false; }};
    EngineCounters m_counters;
    RecordingSender m_sender{m_table};
    std::string m_localIP = "10.0.0.2";
    std::string m_localMac = "00:1A:2B:3C:4D:5E";
    std::atomic<int> m_netConnected{0};
    RequestHandler m_requests{{m_view, m_table, m_catalogue, m_batch, m_cloud, m_allocator,
                               m_counters, m_sender, m_localIP, m_localMac, m_netConnected}};
    ReportHandler m_reports{m_view, m_table, m_batch};
};

// Catches the wrong file chosen or the wrong reason given: older files, files outranked in
// their model, case-folded models, empty version numbers and the forced-upgrade box.
TEST_F(RequestRulesTest, FindNewVersionChoosesTheNewestFileOfTheModel) {
    m_catalogue.With([](std::vector<UpgradeFileInfo>& c) {
        c = {File("A1", "1.0.0.3", 0), File("A1", "1.0.0.5", 1), File("B2", "2.0.0.0", 0),
             File("C3", "", 1)};
    });
    struct Case {
        const char* model;
        const char* verNum;
        bool forced;
        int result;
    };
    const Case cases[] = {
        {"A1", "1.0.0.4", false, 0}, {"A1", "1.0.0.5", false, 2}, {"A1", "1.0.1.0", false, 3},
        {"A1", "", false, 3},  // a "Version:" without "-"
        {"A1", "1.0.1.0", true, 0},  {"A1", "", true, 0},         {"a1", "1.0.0.4", false, 1},
        {"B2", "1.0.0.0", false, 2},  // known, but none of its files is its newest
        {"C3", "1.0.0.0", false, 3},  // the file has no version number
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.model) + " " + c.verNum + (c.forced ? " forced" : ""));
        m_view.SetForcedUpgrade(c.forced);
        UpgradeFileInfo chosen;
        EXPECT_EQ(m_requests.FindNewVersion(c.model, c.verNum, &chosen), c.result);
        EXPECT_STREQ(chosen.szVersion, c.result == 0 ? "A1-1.0.0.5" : "");
    }
}

// Catches a hostile report reaching the table, the checks in the wrong order (a failure
// without "Version:" still raises the window), and a good report shown with wrong texts.
TEST_F(RequestRulesTest, ReportsAreReadOrDroppedWhole) {
    const std::string tail = "\r\nState:1\r\nVersion:IPC*X1-1.2.3.4-B7\r\n";
    const std::string good = "Ipaddr:10.0.0.11\r\nIPCMac:aa\r\nSchedule:30" + tail;
    // Each drop names its fault: -1 the event, -2 to -5 the lines up to "State:", -6 its
    // status text, -7 "Version:".
    const std::tuple<int, std::string, int> dropped[] = {
        {13, good, -1},                              // no such stage
        {0, "IPCMac:aa\r\nSchedule:30" + tail, -2},  // no address
        // Limits written out (64, 16) as devices know them: the table's follow a wrong row.
        {0, "Ipaddr:x\r\nIPCMac:" + std::string(64, 'm') + "\r\nSchedule:1" + tail, -3},
        {0, "Ipaddr:x\r\nIPCMac:aa\r\nSchedule:1", -4},  // value without its line end
        {0, "Ipaddr:x\r\nIPCMac:aa\r\nSchedule:1\r\nState:" + std::string(16, '1') + "\r\n", -5},
        {0, "Ipaddr:x\r\nIPCMac:aa\r\nSchedule:1\r\nState:8\r\nVersion:V-1\r\n", -6},
        {0, "Ipaddr:x\r\nIPCMac:aa\r\nSchedule:1\r\nState:2\r\n", -7},  // a failure: raises
        {0, "Ipaddr:x\r\nIPCMac:aa\r\nSchedule:1\r\nState:5\r\n", -7},  // the last that raises
    };
    for (const auto& [event, text, code] : dropped) {
        EXPECT_EQ(m_reports.ReportMsgProc(event, text), code) << text;
    }
    EXPECT_EQ(m_view.m_iRaises, 2);
    EXPECT_EQ(m_table.RowCount(), 0);

    // The update stage has no text for state 1: the new row's status stays empty.
    EXPECT_EQ(m_reports.ReportMsgProc(11, good), 0);
    EXPECT_EQ(m_reports.ReportMsgProc(10, "IPCMac:b\r\nIpaddr:y\r\nSchedule:2\r\nState:6" + tail),
              0);
    EXPECT_EQ(m_view.m_iRaises, 3);
    EXPECT_EQ(
        m_table.Rows(),
        (std::vector<DeviceRow>{
            {"1", "IPC-X1", "10.0.0.11", "", "30%", "IPC*X1-1.2.3.4-B7", ""},
            {"2", "IPC-X1", "y", "Uboot param is written faiure", "2%", "IPC*X1-1.2.3.4-B7", ""}}));
    // State 7, the last there is, is a state like any other.
    EXPECT_EQ(m_reports.ReportMsgProc(
                  0, "Ipaddr:z\r\nIPCMac:c\r\nSchedule:1\r\nState:7" + tail.substr(9)),
              0);
}

// Catches the network growing the parked requests or the rows without bound.
TEST_F(RequestRulesTest, CloudPathParksAtMostAThousandDevices) {
    m_netConnected = 1;
    DeviceRequest request{"Z9-1.0", "", "", 0, "Z9", "1.0"};
    for (int i = 0; i < 1100; ++i) {
        request.szMac = std::to_string(i);
        request.iCseq = i;
        EXPECT_FALSE(m_requests.assignIPAndFirmware(request, i, true));
    }
    EXPECT_EQ(m_cloud.Pending().size(), 1000u);
    EXPECT_EQ(m_table.RowCount(), 1000);
    EXPECT_TRUE(m_sender.m_replies.empty());
}

// Catches a reply sent before the device's record is made (its first reports would find none),
// a reply from the wrong address, and a device answered with no serving address at all.
TEST_F(RequestRulesTest, AnAssignedDeviceIsRecordedBeforeItsReplyLeaves) {
    m_allocator.SetNextIP(MakeAllocationCursor(m_localIP));
    m_catalogue.With([](std::vector<UpgradeFileInfo>& c) { c = {File("A1", "1.0.0.5", 1)}; });
    DeviceRequest request{"A1-1.0.0.4", "6", "aa", 6, "A1", "1.0.0.4"};
    ASSERT_TRUE(m_requests.assignIPAndFirmware(request, 1, true));
    ASSERT_EQ(m_sender.m_replies.size(), 1u);
    EXPECT_EQ(m_sender.m_recordedFirst[0], 1u);
    EXPECT_EQ(m_sender.m_replies[0],
              BuildAssignReply({6, m_localMac, m_localIP, "10.0.0.10", "aa", "A1-1.0.0.5", ""}));

    m_localIP.clear();
    request.szMac = "bb";
    EXPECT_FALSE(m_requests.assignIPAndFirmware(request, 2, true));
    EXPECT_EQ(m_sender.m_replies.size(), 1u);
}

}  // namespace
}  // namespace orvane
