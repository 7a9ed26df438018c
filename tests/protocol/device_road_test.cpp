// A device's road through the real engine on real sockets: request in on 10011, reply bytes
// out on 10010, reports in, rows and counters out.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "common/netns.h"
#include "common/recording_view.h"
#include "common/temp_dir.h"
#include "platform/udp_socket.h"
#include "protocol/orvane_engine.h"
#include "support/language.h"
#include "support/log.h"
#include "tools/fmw_builder.h"

namespace orvane {
namespace {

using platform::Endpoint;
using platform::UdpSocket;

constexpr int kWaitMs = 5000;
constexpr const char* kServerMac = "00:1A:2B:3C:4D:5E";

// A view the test can wait on: it wakes the test after every change of the model.
class WaitingView : public test::RecordingView {
  public:
    void OnDeviceTableChanged(const DeviceTableChange&) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_uChanges;
        m_cv.notify_all();
    }
    // Waits until `done` holds, checking it after each change; `done` may read the model
    // (it runs without this view's lock).
    bool WaitUntil(const std::function<bool()>& done) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
        for (;;) {
            size_t seen = 0;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                seen = m_uChanges;
            }
            if (done()) {
                return true;
            }
            std::unique_lock<std::mutex> lock(m_mutex);
            if (!m_cv.wait_until(lock, deadline, [&] { return m_uChanges != seen; })) {
                return false;
            }
        }
    }

  private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    size_t m_uChanges = 0;
};

std::string Request(const std::string& version, const std::string& cseq, const std::string& mac) {
    return "Msg:Request_ipaddr\r\n"
           "Version:" +
           version +
           "\r\n"
           "Cseq:" +
           cseq +
           "\r\n"
           "IPCMac:" +
           mac + "\r\n";
}

std::string Report(const char* keyword, const std::string& ip, const std::string& mac,
                   const char* schedule, const char* state, const std::string& version) {
    return std::string("Msg:") + keyword +
           "\r\n"
           "Ipaddr:" +
           ip +
           "\r\n"
           "IPCMac:" +
           mac +
           "\r\n"
           "Schedule:" +
           schedule +
           "\r\n"
           "State:" +
           state +
           "\r\n"
           "Version:" +
           version + "\r\n";
}

// The assignment reply and its NUL, as the wire carries them.
std::string AssignBytes(int cseq, const std::string& ip, const std::string& mac,
                        const std::string& version, const std::string& file) {
    return std::string("Msg:Request_ipaddr\r\n") +              // type line
           "Cseq:" + std::to_string(cseq) + "\r\n" +            // the request's plus one
           "ServerMac:" + kServerMac + "\r\n" +                 // serving adapter
           "ServerIP:127.0.0.1\r\n" +                           // serving address
           "Ipaddr:" + ip + "\r\n" +                            // the device's new address
           "IPCMac:" + mac + "\r\n" +                           // echoed
           "Version:" + version + "\r\n" +                      // firmware version
           "FilePath:" + file + "\r\n" + std::string(1, '\0');  // TFTP name, then NUL
}

std::string ShortBytes(int cseq, const std::string& mac) {
    return "Msg:Request_ipaddr\r\nCseq:" + std::to_string(cseq) + "\r\nIPCMac:" + mac + "\r\n" +
           std::string(1, '\0');
}

class DeviceRoadTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ORVANE_REQUIRE_PRIVATE_NETWORK();
        InitLog(kLogInfo, m_dir.File("Upgrade.log").c_str());
        SetThreadUiLanguage(kLanguageEnglish);
        m_dir.Write("a1.bin", fwbuild::BuildIpcHeaderFile("X_A1_V1.0.0.5", 0, false));
        m_dir.Write("c300.bin", fwbuild::BuildIpcHeaderFile("Y_C300_V3.0.0.0", 0, false));
        m_dir.Write("n200.bin", fwbuild::BuildNvrHeaderFile("N200_V2.0.0.7", 0, false));
        ASSERT_TRUE(m_replies.Open() && m_replies.SetReuseAddress() &&
                    m_replies.Bind(Endpoint{0, kReplyPort}));
        ASSERT_TRUE(m_engine.StartService(ServiceConfig{"127.0.0.1", kServerMac, m_dir.Path()}));
        ASSERT_EQ(m_engine.WaitListening(kWaitMs), 1);
    }
    void TearDown() override {
        m_engine.StopService();
        SetThreadUiLanguage(0);
        InitLog(kLogMajor, "");
    }
    void Send(const std::string& text) {
        UdpSocket s;
        ASSERT_TRUE(s.Open());
        ASSERT_EQ(s.SendTo(text.data(), text.size(), Endpoint{0x7F000001u, kListenPort}),
                  static_cast<long>(text.size()));
    }
    std::string NextReply() {
        if (m_replies.WaitReadable(kWaitMs) != 1) {
            return "(none)";
        }
        char buf[kMaxDatagram];
        long n = m_replies.ReceiveFrom(buf, sizeof buf, nullptr);
        return n < 0 ? "(error)" : std::string(buf, n);
    }
    bool WaitRow(int row, const DeviceRow& texts, int successes, int failures) {
        return m_view.WaitUntil([&] {
            return m_engine.Devices().Row(row) == texts &&
                   m_engine.Devices().SuccessCount() == successes &&
                   m_engine.Devices().FailCount() == failures;
        });
    }

    test::TempDir m_dir;
    WaitingView m_view;
    OrvaneEngine m_engine{m_view};
    UdpSocket m_replies;
};

// Catches a wrong reply (bytes, Cseq, address walk, file) for the catalogue's cases, rows not
// shown for same-version devices when the box is ticked, and the forced box ignored.
TEST_F(DeviceRoadTest, RequestsGetTheirRepliesByteForByte) {
    struct Case {
        const char* version;
        const char* cseq;
        bool forced, showAll;
        std::string reply;
        const char* status;  // the device's row, or null for none
    };
    const Case cases[] = {
        {"A1-1.0.0.4", "41", false, false,
         AssignBytes(42, "127.0.0.10", "d0", "A1-1.0.0.5", "a1.bin"), nullptr},
        {"A1-1.0.0.5", "7", false, true, ShortBytes(8, "d1"), "It is already the latest version"},
        {"A1-1.0.1.0", "abc", false, true, ShortBytes(1, "d2"),
         "The target firmware version is lower"},
        {"A1-1.0.1.0", "-3", true, false,
         AssignBytes(-2, "127.0.0.11", "d3", "A1-1.0.0.5", "a1.bin"), nullptr},
        {"A1", "0", false, false, ShortBytes(1, "d4"), nullptr},
        {"a1-1.0.0.4", "0", false, true, ShortBytes(1, "d5"),
         "The target firmware version is lower"},
    };
    int rows = 0;
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.version);
        const std::string mac = "d" + std::to_string(i);
        m_view.m_bForced = c.forced;
        m_view.m_bShowAll = c.showAll;
        Send(Request(c.version, c.cseq, mac));
        EXPECT_EQ(NextReply(), c.reply);
        if (c.status != nullptr) {
            ++rows;
            EXPECT_TRUE(m_view.WaitUntil([&] { return m_engine.Devices().RowCount() == rows; }));
            const std::string model = std::string(c.version).substr(0, 2);
            EXPECT_EQ(m_engine.Devices().Row(rows - 1),
                      (DeviceRow{std::to_string(rows), model, "", c.status, "", c.version, ""}));
        }
    }
    EXPECT_EQ(m_engine.Devices().RowCount(), rows);
}

// Catches a camera or a recorder whose road goes wrong anywhere: the reply's bytes, the row
// its first report makes, the stage that ends it (file system for a camera, update for a
// recorder), the upgraded version shown and the success counted once.
TEST_F(DeviceRoadTest, CameraAndRecorderRoadsEndInOneSuccessEach) {
    struct Step {
        const char* keyword;
        const char* schedule;
        const char* state;
        const char* status;
        bool done;  // the upgraded version shows and the success is counted
    };
    struct Device {
        const char* version;
        const char* mac;
        const char* ip;
        const char* model;
        const char* firmware;
        const char* file;
        std::vector<Step> steps;
    };
    const Device devices[] = {
        {"C300-2.0.0.0",
         "00-11-22-33-44-01",
         "127.0.0.10",
         "C300",
         "C300-3.0.0.0",
         "c300.bin",
         {{"Report_Downloading", "50", "1", "Is downloading", false},
          {"Report_Kernel", "100", "0", "kernel is written successfully", false},
          {"Report_Filesystem", "100", "0", "Upgrade complete", true}}},
        {"N200-2.0.0.1",
         "00-11-22-33-44-02",
         "127.0.0.11",
         "N200",
         "N200-2.0.0.7",
         "n200.bin",
         {{"Report_Downloading", "10", "1", "Is downloading", false},
          {"Report_Filesystem", "100", "0", "Upgrade complete", false},
          {"Report_Update", "100", "0", "Upgrade complete", true}}},
    };
    int successes = 0;
    for (size_t d = 0; d < std::size(devices); ++d) {
        const Device& dev = devices[d];
        SCOPED_TRACE(dev.model);
        Send(Request(dev.version, "100", dev.mac));
        EXPECT_EQ(NextReply(), AssignBytes(101, dev.ip, dev.mac, dev.firmware, dev.file));
        for (const Step& s : dev.steps) {
            SCOPED_TRACE(s.keyword);
            Send(Report(s.keyword, dev.ip, dev.mac, s.schedule, s.state, dev.version));
            successes += s.done ? 1 : 0;
            const DeviceRow row{std::to_string(d + 1),
                                dev.model,
                                dev.ip,
                                s.status,
                                std::string(s.schedule) + "%",
                                dev.version,
                                s.done ? dev.firmware : ""};
            EXPECT_TRUE(WaitRow(static_cast<int>(d), row, successes, 0))
                << m_engine.Devices().Row(static_cast<int>(d))[3];
        }
    }
    EXPECT_EQ(m_engine.Devices().RowCount(), 2);
}

// Catches handlers that race: many devices asking and reporting at once through the engine
// each get their own address and exactly one row with its own number.
TEST_F(DeviceRoadTest, ConcurrentDevicesGetOneRowAndAddressEach) {
    constexpr int kDevices = 16;
    std::vector<std::thread> threads;
    for (int i = 0; i < kDevices; ++i) {
        threads.emplace_back([this, i] {
            const std::string version = "C300-2.0.0." + std::to_string(i);
            const std::string mac = "m" + std::to_string(i);
            m_engine.RequestIpaddrProc(Request(version, "1", mac), i + 1);
            for (int event : {0, 3}) {
                m_engine.ReportMsgProc(event,
                                       Report("", "ip", mac, "1", event ? "0" : "1", version));
            }
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    std::set<std::string> devices;
    std::set<std::string> addresses;
    for (const IpcInfo& r : m_engine.Devices().Records()) {
        addresses.insert(r.szIpAddr);
    }
    const std::vector<DeviceRow> rows = m_engine.Devices().Rows();
    ASSERT_EQ(rows.size(), static_cast<size_t>(kDevices));
    for (size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i][0], std::to_string(i + 1));
        EXPECT_EQ(rows[i][6], "C300-3.0.0.0");
        devices.insert(rows[i][5]);
    }
    EXPECT_EQ(devices.size(), static_cast<size_t>(kDevices));
    EXPECT_EQ(addresses.size(), static_cast<size_t>(kDevices));
    EXPECT_EQ(m_engine.Devices().SuccessCount(), kDevices);
}

}  // namespace
}  // namespace orvane
