#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/netns.h"
#include "common/recording_view.h"
#include "common/temp_dir.h"
#include "common/update_service.h"
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

// A firmware file the catalogue takes.
std::string FirmwareFile(const std::string& versionText) {
    return fwbuild::BuildIpcHeaderFile(versionText, 0, false);
}

std::string Md5Of(const test::TempDir& dir, const std::string& content) {
    dir.Write("md5-input", content);
    std::string out;
    test::RunCommand({"/usr/bin/md5sum", dir.File("md5-input")}, &out);
    return out.substr(0, 32);
}

std::string QueryReply(const std::string& identifier, const std::string& url,
                       const std::string& md5) {
    return R"({"code":200,"msg":"ok","data":{"model":"M","device_identify":")" + identifier +
           R"(","file_url":")" + url + R"(","file_md5":")" + md5 + R"("}})";
}

// A view that keeps the rows it was told of, so a test can wait for a status text.
class RowView : public test::RecordingView {
  public:
    void OnDeviceTableChanged(const DeviceTableChange& change) override {
        test::RecordingView::OnDeviceTableChanged(change);
        if (change.kind != DeviceTableChange::kRowAdded &&
            change.kind != DeviceTableChange::kRowChanged) {
            return;
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        m_mapRows[change.iRow] = change.row;
        m_cv.notify_all();
    }
    void ShowMainWindow() override {
        test::RecordingView::ShowMainWindow();
        std::lock_guard<std::mutex> lock(m_mutex);
        m_cv.notify_all();
    }
    // Waits until the window was raised more than `count` times.
    bool WaitRaisedMoreThan(int count) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cv.wait_for(lock, std::chrono::milliseconds(kWaitMs),
                             [&] { return m_iRaises.load() > count; });
    }
    // Waits until `count` rows of `model` show `status`.
    bool WaitStatus(const std::string& model, const std::string& status, size_t count = 1) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cv.wait_for(lock, std::chrono::milliseconds(kWaitMs), [&] {
            size_t n = 0;
            for (const auto& row : m_mapRows) {
                n += row.second[1] == model && row.second[3] == status ? 1 : 0;
            }
            return n >= count;
        });
    }

  private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::map<int, DeviceRow> m_mapRows;
};

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
        m_view.SetFolder(m_folder);
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

    // Sends a device's request to the service.
    void Ask(const std::string& version, const std::string& mac, int cseq = 41) {
        const std::string text = "Msg:Request_ipaddr\r\nVersion:" + version +
                                 "\r\nCseq:" + std::to_string(cseq) + "\r\nIPCMac:" + mac + "\r\n";
        UdpSocket s;
        ASSERT_TRUE(s.Open());
        ASSERT_EQ(s.SendTo(text.data(), text.size(), Endpoint{0x7F000001u, 10011}),
                  static_cast<long>(text.size()));
    }
    // The next reply for `mac` that reaches the device port, or "" after kWaitMs.
    std::string WaitReply(const std::string& mac) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
        char buf[2048];
        while (std::chrono::steady_clock::now() < deadline) {
            long n = m_device.ReceiveWithin(buf, sizeof buf - 1, 200);
            if (n > 0) {
                std::string text(buf, static_cast<size_t>(n));
                if (text.find("\r\nIPCMac:" + mac + "\r\n") != std::string::npos) {
                    return text;
                }
            }
        }
        return "";
    }
    // Waits up to kWaitMs for the download server to see a request.
    bool WaitDownloadRequest() const {
        for (int i = 0; i < kWaitMs / 20 && m_files.Requests().empty(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return !m_files.Requests().empty();
    }
    size_t QueryCount() const {
        size_t n = 0;
        for (const std::string& head : m_service.Requests()) {
            n += head.rfind("GET /update/", 0) == 0 ? 1 : 0;
        }
        return n;
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
    RowView m_view;
    OrvaneEngine m_engine{m_view};
};

// Catches a failure shown with the wrong text, a window left behind, an unverified file left
// in the folder or catalogued, or a failure that ends the cloud thread: each case is a new
// model, served by the same thread after the failures before it, and the last one goes the
// whole road (query, download, digest, catalogue, the assignment reply to the device).
TEST_F(CloudThreadTest, FailuresAreShownAndTheThreadServesTheNextRequest) {
    const std::string firmware = FirmwareFile("X_M200_V2.0.0.1");
    const std::string md5 = Md5Of(m_dir, firmware);
    const std::string url = "http://127.0.0.2:443/f";
    struct Case {
        const char* model;
        std::string query;
        std::string body;
        std::string status;
        std::string mode;
        const char* row;
    } cases[] = {
        {"Q1", R"({"code":404,"msg":"no firmware"})", "", "200", "",
         "Cloud firmware query failed:no firmware"},
        {"D1", QueryReply("D1", url, md5), "gone", "404", "",
         "Failed to download the cloud firmware,Server reject"},
        {"D3", QueryReply("D3", url, md5), "tampered firmware", "200", "",
         "Failed to download the cloud firmware,MD5 error"},
        {"D4", QueryReply("D4", url, md5), firmware, "200", "hold",
         "Failed to download the cloud firmware,Request failed"},
        {"D5", QueryReply("D5", url, md5), firmware, "200", "reset",
         "Failed to download the cloud firmware,Request failed"},
        {"D6", QueryReply("../x", url, md5), firmware, "200", "",
         "Failed to download the cloud firmware,downlaod error"},
        {"M200", QueryReply("M200_V2", url, md5), firmware, "200", "",
         "The cloud firmware is downloaded successfully."},
    };
    for (const Case& c : cases) {
        const int raises = m_view.m_iRaises.load();
        m_service.Reply(c.query);
        m_files.Reply(c.body, c.status, c.mode);
        const std::string mac = std::string("mac-") + c.model;
        Ask(std::string(c.model) + "-1.0.0.0", mac);
        EXPECT_TRUE(m_view.WaitStatus(c.model, c.row)) << c.model;
        const bool ok = std::string(c.model) == "M200";
        if (!ok) {
            EXPECT_TRUE(m_view.WaitRaisedMoreThan(raises)) << c.model;
        }
        EXPECT_EQ(FolderNames(),
                  ok ? std::vector<std::string>{"M200_V2.bin"} : std::vector<std::string>{})
            << c.model;
        EXPECT_EQ(m_engine.GetUpgradeFileInfo().size(), ok ? 1u : 0u) << c.model;
    }
    EXPECT_NE(WaitReply("mac-M200").find("FilePath:M200_V2.bin\r\n"), std::string::npos);
    EXPECT_FALSE(fs::exists(m_dir.Path() + "/x.bin"));
}

// Catches a second query (and download) for a model whose download is running, or a parked
// device of that model left without an answer.
TEST_F(CloudThreadTest, TwoDevicesOfOneModelShareOneDownload) {
    const std::string firmware = FirmwareFile("X_M300_V2.0.0.1");
    m_service.Reply(QueryReply("M300_V2", "http://127.0.0.2:443/f", Md5Of(m_dir, firmware)));
    m_files.Reply(firmware, "200", "hold");
    Ask("M300-1.0.0.0", "mac-a");
    ASSERT_TRUE(WaitDownloadRequest());
    Ask("M300-1.0.0.0", "mac-b");
    // The second device is parked while the first download is held.
    ASSERT_TRUE(m_view.WaitStatus("M300", "Cloud firmware download", 2));
    m_files.Release();
    EXPECT_NE(WaitReply("mac-a").find("FilePath:M300_V2.bin\r\n"), std::string::npos);
    EXPECT_NE(WaitReply("mac-b").find("FilePath:M300_V2.bin\r\n"), std::string::npos);
    EXPECT_EQ(QueryCount(), 2u);  // one query: its opening request and the one that is read
    EXPECT_EQ(m_files.Requests().size(), 1u);
}

// Catches a Stop that waits out a download in hand, or one that leaves its partial file.
TEST_F(CloudThreadTest, StopAbandonsARunningDownload) {
    const std::string firmware = FirmwareFile("X_M400_V2.0.0.1");
    m_engine.StopService();
    m_engine.SetCloudDownloadLimits(DownloadLimits{});  // 30 s for each next byte
    ASSERT_TRUE(m_engine.StartService(ServiceConfig{"127.0.0.1", kServerMac, m_folder}));
    m_service.Reply(QueryReply("M400_V2", "http://127.0.0.2:443/f", Md5Of(m_dir, firmware)));
    m_files.Reply(firmware, "200", "hold");
    Ask("M400-1.0.0.0", "mac-a");
    ASSERT_TRUE(WaitDownloadRequest());
    const auto start = std::chrono::steady_clock::now();
    m_engine.StopService();
    // Generous: an abandoned download takes a fraction of a second, a waited-out one 10 s.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_TRUE(FolderNames().empty());
}

}  // namespace
}  // namespace orvane
