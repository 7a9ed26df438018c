#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "common/child_process.h"
#include "common/netns.h"
#include "common/temp_dir.h"
#include "common/update_service.h"
#include "common/wait_until.h"
#include "engine_harness.h"
#include "platform/udp_socket.h"
#include "protocol/orvane_engine.h"
#include "support/language.h"
#include "support/log.h"
#include "tools/fmw_builder.h"

namespace orvane {
namespace {

namespace fs = std::filesystem;
using platform::Endpoint;
using platform::UdpSocket;

constexpr int kWaitMs = 10000;
constexpr const char* kServerMac = "00:1A:2B:3C:4D:5E";

// A firmware file the catalogue takes, for model `model` at version 2.0.0.1.
std::string FirmwareFile(const std::string& model) {
    return fwbuild::BuildIpcHeaderFile("X_" + model + "_V2.0.0.1", 0, false);
}

std::string QueryReply(const std::string& identifier, const std::string& content) {
    test::TempDir dir;
    dir.Write("f", content);
    std::string md5;
    test::RunCommand({"/usr/bin/md5sum", dir.File("f")}, &md5);
    return R"({"code":200,"msg":"ok","data":{"model":"M","device_identify":")" + identifier +
           R"(","file_url":"http://127.0.0.2:443/f","file_md5":")" + md5.substr(0, 32) + R"("}})";
}

// The engine serving 127.0.0.1 with the cloud reachable: the update service on
// 127.0.0.1:443 (HTTPS), a download server on 127.0.0.2:443 (plain HTTP), and a device's
// socket on port 10010, all inside the test's network namespace.
class CloudThreadTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ORVANE_REQUIRE_PRIVATE_NETWORK();
        SetThreadUiLanguage(kLanguageEnglish);
        InitLog(kLogInfo, m_dir.File("Upgrade.log").c_str());
        ASSERT_TRUE(m_service.Start(m_serviceDir.Path()));
        ASSERT_TRUE(m_files.StartPlain(m_filesDir.Path(), "127.0.0.2", 443));
        ASSERT_TRUE(m_device.Open() && m_device.SetReuseAddress() &&
                    m_device.Bind(Endpoint{0, 10010}));
        fs::create_directory(m_folder);
        m_view.SetUpgradeFolder(m_folder);
        m_engine.SetCloudDownloadLimits(DownloadLimits{2000, 2000, 500});
        m_engine.SetNetConnected(true);
        ASSERT_TRUE(m_engine.StartService(ServiceConfig{"127.0.0.1", kServerMac, m_folder}));
        ASSERT_EQ(m_engine.WaitListening(kWaitMs), 1);
    }
    void TearDown() override {
        m_engine.StopService();
        unsetenv("CURL_CA_BUNDLE");
        InitLog(kLogMajor, "");
    }

    // Sends a device's request for model `model` to the service.
    void Ask(const std::string& model, const std::string& mac) {
        test::SendToListener("Msg:Request_ipaddr\r\nVersion:" + model +
                             "-1.0.0.0\r\nCseq:41\r\nIPCMac:" + mac + "\r\n");
    }
    // The file the next reply for `mac` that reaches the device port names, or "" after
    // kWaitMs.
    std::string WaitReplyFile(const std::string& mac) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
        char buf[2048];
        while (std::chrono::steady_clock::now() < deadline) {
            long n = m_device.ReceiveWithin(buf, sizeof buf - 1, 200);
            std::string text(buf, n > 0 ? static_cast<size_t>(n) : 0);
            size_t at = text.find("FilePath:");
            if (text.find("\r\nIPCMac:" + mac + "\r\n") != std::string::npos &&
                at != std::string::npos) {
                return text.substr(at + 9, text.find('\r', at) - at - 9);
            }
        }
        return "";
    }
    // Waits until `count` rows of `model` show `status` and the window was raised more than
    // `raises` times.
    bool WaitStatus(const std::string& model, const std::string& status, size_t count = 1,
                    int raises = -1) {
        return m_view.Wait([&](const test::RowsView::Rows& rows, int) {
            size_t n = 0;
            for (const DeviceRow& row : rows) {
                n += row[1] == model && row[3] == status ? 1 : 0;
            }
            return n >= count && m_view.m_iRaises.load() > raises;
        });
    }
    // Waits up to kWaitMs for the download server to see a request.
    bool WaitDownloadRequest() const {
        return test::WaitUntil([this] { return !m_files.Requests().empty(); }, kWaitMs);
    }
    std::vector<std::string> FolderNames() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(m_folder)) {
            names.push_back(entry.path().filename().string());
        }
        return names;
    }

    test::TempDir m_dir;
    test::TempDir m_serviceDir;
    test::TempDir m_filesDir;
    const std::string m_folder = m_dir.Path() + "/Firmware";
    test::UpdateService m_service;
    test::UpdateService m_files;
    UdpSocket m_device;
    test::RowsView m_view;
    OrvaneEngine m_engine{m_view};
};

// Catches a failure shown with the wrong text, a window left behind, an unverified file left
// in the folder or catalogued, or a failure that ends the cloud thread: each case is a new
// model, served by the same thread after the failures before it, and the last one goes the
// whole road (query, download, digest, catalogue, the assignment reply to the device).
TEST_F(CloudThreadTest, FailuresAreShownAndTheThreadServesTheNextRequest) {
    const std::string firmware = FirmwareFile("M200");
    const std::string failed = "Failed to download the cloud firmware,";
    struct Case {
        const char* model;
        std::string query;
        std::string body;
        std::string status;
        std::string mode;
        std::string row;
    } cases[] = {
        {"Q1", R"({"code":404,"msg":"no firmware"})", "", "200", "",
         "Cloud firmware query failed:no firmware"},
        {"D1", QueryReply("D1", firmware), "gone", "404", "", failed + "Server reject"},
        {"D3", QueryReply("D3", firmware), "tampered firmware", "200", "", failed + "MD5 error"},
        {"D5", QueryReply("D5", firmware), firmware, "200", "reset", failed + "Request failed"},
        {"D6", QueryReply("../x", firmware), firmware, "200", "", failed + "downlaod error"},
        {"D7", QueryReply("D7%41", firmware), firmware, "200", "", failed + "downlaod error"},
        // Verified, but firmware of M200 where Z9 was asked for: not kept, not catalogued.
        {"Z9", QueryReply("Z9_V2", firmware), firmware, "200", "", failed + "downlaod error"},
        {"M200", QueryReply("M200_V2", firmware), firmware, "200", "",
         "The cloud firmware is downloaded successfully."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.model);
        const bool ok = std::string(c.model) == "M200";
        const int raises = m_view.m_iRaises.load();
        m_service.Reply(c.query);
        m_files.Reply(c.body, c.status, c.mode);
        Ask(c.model, std::string("mac-") + c.model);
        EXPECT_TRUE(WaitStatus(c.model, c.row, 1, ok ? -1 : raises));
        if (ok) {  // the row shows before the catalogue takes the file; the reply after
            EXPECT_EQ(WaitReplyFile("mac-M200"), "M200_V2.bin");
        }
        EXPECT_EQ(FolderNames().size(), ok ? 1u : 0u);
        EXPECT_EQ(m_engine.GetUpgradeFileInfo().size(), ok ? 1u : 0u);
    }
    EXPECT_FALSE(fs::exists(m_dir.Path() + "/x.bin"));
}

// Catches a second query (or download) for a model whose download is running, and parked
// devices that ask again while they wait (every 3 s) getting a second row, a second answer or
// an answer to an old request: 150 devices of one model, its download held until each of them
// has asked again. A second answer, or one to a request not of the device's last round, would
// be a stray reply for the simulator.
TEST_F(CloudThreadTest, ParkedDevicesAskingAgainShareOneDownloadAndGetOneAnswer) {
    constexpr size_t kDevices = 150;
    // Failures only: with every progress line flushed to disk, a busy disk holds requests
    // past the devices' 3 s and they ask again before their answer (two answers, rightly).
    InitLog(kLogMajor, m_dir.File("Upgrade.log").c_str());
    m_engine.StopService();
    m_engine.SetCloudDownloadLimits(DownloadLimits{});  // the hold outlasts 500 ms
    ASSERT_TRUE(m_engine.StartService(ServiceConfig{"127.0.0.1", kServerMac, m_folder}));
    const std::string firmware = FirmwareFile("M300");
    m_service.Reply(QueryReply("M300_V2", firmware));
    m_files.Reply(firmware, "200", "hold");
    m_device.Close();  // the simulated devices take the reply port
    test::ChildProcess devsim;
    ASSERT_TRUE(devsim.Start({test::BinDir() + "/orvane-devsim", "--server", "127.0.0.1",
                              "--devices", std::to_string(kDevices), "--model", "M300", "--version",
                              "1.0.0.0", "--road", "request", "--request-tries", "20"},
                             m_dir.Path(), m_dir.File("devsim.err")));
    ASSERT_TRUE(WaitDownloadRequest());
    // Every device parked, and each of them asked again (a device's first Cseq is a multiple
    // of 1000; it counts up when it asks again). Some first requests meet the listener's bound
    // of request workers and are asked again seconds later.
    auto allAskedAgain = [this] {
        const auto waiting = m_engine.CloudRequests().Pending();
        return m_view.GetRows().size() == kDevices && waiting.size() == kDevices - 1 &&
               std::all_of(waiting.begin(), waiting.end(),
                           [](const CloudRequest& r) { return r.iCseq % 1000 != 0; });
    };
    for (int i = 0; i < 1500 && !allAskedAgain(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_TRUE(allAskedAgain()) << m_view.GetRows().size() << " rows";
    m_files.Release();

    std::string out;
    for (std::string line; devsim.ReadLine(&line, 60000);) {
        out += line + "\n";
    }
    EXPECT_EQ(devsim.Wait(kWaitMs), 0) << out << test::ReadWholeFile(m_dir.File("devsim.err"));
    EXPECT_NE(out.find("devices=150 answered=150 "), std::string::npos) << out;
    EXPECT_NE(out.find(" stray-replies=0"), std::string::npos) << out;
    EXPECT_EQ(m_view.GetRows().size(), kDevices);
    EXPECT_EQ(m_service.Requests().size(), 2u);  // one query: its opening request, the one read
    EXPECT_EQ(m_files.Requests().size(), 1u);
}

// Catches a Stop that waits out a download in hand, leaves its partial file, or shows the
// abandoned download as the device's failure (a row text, a raised window).
TEST_F(CloudThreadTest, StopAbandonsARunningDownload) {
    m_engine.StopService();
    m_engine.SetCloudDownloadLimits(DownloadLimits{});  // 30 s for each next byte
    ASSERT_TRUE(m_engine.StartService(ServiceConfig{"127.0.0.1", kServerMac, m_folder}));
    const std::string firmware = FirmwareFile("M400");
    m_service.Reply(QueryReply("M400_V2", firmware));
    m_files.Reply(firmware, "200", "hold");
    Ask("M400", "mac-a");
    ASSERT_TRUE(WaitDownloadRequest());
    const int raises = m_view.m_iRaises.load();
    const auto start = std::chrono::steady_clock::now();
    m_engine.StopService();
    // Generous: an abandoned download takes a fraction of a second, a waited-out one 10 s.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_TRUE(FolderNames().empty());
    EXPECT_TRUE(WaitStatus("M400", "Cloud firmware download"));
    EXPECT_EQ(m_view.m_iRaises.load(), raises);
}

}  // namespace
}  // namespace orvane
