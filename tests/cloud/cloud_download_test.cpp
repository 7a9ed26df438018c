#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cloud/cloud_firmware_file.h"
#include "common/netns.h"
#include "common/temp_dir.h"
#include "common/update_service.h"

namespace orvane {
namespace {

namespace fs = std::filesystem;

// Short waits: a failed connection costs a fraction of a second.
const DownloadLimits kTestLimits{2000, 2000, 300};

std::vector<std::string> FolderNames(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string RequestLine(const std::string& head) {
    return head.substr(0, head.find("\r\n"));
}

// Download servers inside the test's network namespace: plain HTTP on 127.0.0.2:443 (the port
// of https addresses), TLS on 127.0.0.1:8443 with a certificate the client is told to trust
// (CURL_CA_BUNDLE), and TLS on 127.0.0.3:443 with the same certificate, which names 127.0.0.1
// only; and a firmware folder.
class DownloadTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ORVANE_REQUIRE_PRIVATE_NETWORK();
        ASSERT_TRUE(m_servers[0].StartPlain(m_serverDirs[0].Path(), "127.0.0.2", 443));
        ASSERT_TRUE(m_servers[1].Start(m_serverDirs[1].Path(), 8443));
        ASSERT_TRUE(m_servers[2].Start(m_serverDirs[1].Path(), 443, "127.0.0.3"));
        setenv("CURL_CA_BUNDLE", m_servers[1].CertificatePath().c_str(), 1);
        fs::create_directory(m_folder);
    }
    void TearDown() override { unsetenv("CURL_CA_BUNDLE"); }

    // The stand-in for the firmware check: a file is of another model when it says so.
    int Fetch(const std::string& url, const std::string& md5, long long minFree,
              std::string* name) {
        CloudFirmwareInfo info{"M100", "M100_V2", url, md5};
        DownloadLimits limits = kTestLimits;
        limits.llMinFreeBytes = minFree;
        const FirmwareCheck isWanted = [](const std::string& path) {
            return test::ReadWholeFile(path).rfind("other", 0) != 0;
        };
        return FetchCloudFirmware(info, m_folder, limits, nullptr, isWanted, name);
    }

    test::TempDir m_serverDirs[2];
    test::TempDir m_root;
    const std::string m_folder = m_root.Path() + "/Firmware";
    test::UpdateService m_servers[3];
};

constexpr const char* kBody = "QVRFMW22 firmware bytes";
constexpr const char* kBodyMd5 = "2b5a2e49b819f3a2c3235013f04d1f23";
constexpr const char* kOther = "other model firmware";
constexpr const char* kOtherMd5 = "04ca17d312e2df0ade47a76474f01f48";
constexpr long long kRoom = kMinFreeAfterDownload;

// Catches a download fetched from the wrong address or with the wrong headers, a failure with
// the wrong code, and anything unverified or of another model left in the folder.
TEST_F(DownloadTest, OutcomesAndWhatTheFolderHolds) {
    struct Case {
        const char* name;
        std::string url;
        std::string body;
        std::string status;
        std::string mode;
        std::string md5;
        int result;
        const char* target;  // the request line's target; null when no request is expected
        int server = 0;      // 0 plain, 1 TLS, 2 TLS with a certificate for another host
        const char* host = "127.0.0.1";
        std::string existing = "old";  // the file of that name already in the folder
        long long minFree = kRoom;
    } cases[] = {
        {"lower-case digest", "http://127.0.0.2:443/fw/M100.bin", kBody, "200", "", kBodyMd5,
         kDownloadOk, "/fw/M100.bin"},
        {"upper-case digest", "http://127.0.0.2:443/f", kBody, "200", "",
         "2B5A2E49B819F3A2C3235013F04D1F23", kDownloadOk, "/f"},
        {"entities in the address", "http://127.0.0.2:443/get?id=7&amp;sig=a&amp;t=1", kBody, "200",
         "", kBodyMd5, kDownloadOk, "/get?id=7&sig=a&t=1"},
        {"https over TLS", "https://127.0.0.1:8443/fw.bin", kBody, "200", "", kBodyMd5, kDownloadOk,
         "/fw.bin", 1, "127.0.0.1:8443"},
        {"https, certificate of another host", "https://127.0.0.3/fw.bin", kBody, "200", "",
         kBodyMd5, kDownloadConnectFailed, nullptr, 2},
        {"empty body", "http://127.0.0.2:443/f", "", "200", "", kBodyMd5, kDownloadMd5Error, "/f"},
        {"digest mismatch", "http://127.0.0.2:443/f", "tampered", "200", "", kBodyMd5,
         kDownloadMd5Error, "/f"},
        {"3 GiB announced", "http://127.0.0.2:443/f", kBody, "200", "huge", kBodyMd5,
         kDownloadError, "/f"},
        {"too little room left", "http://127.0.0.2:443/f", kBody, "200", "", kBodyMd5,
         kDownloadError, "/f", 0, "127.0.0.1", "old", 1LL << 62},
        {"firmware of another model", "http://127.0.0.2:443/f", kOther, "200", "", kOtherMd5,
         kDownloadError, "/f"},
        {"the operator's file of another model", "http://127.0.0.2:443/f", kBody, "200", "",
         kBodyMd5, kDownloadError, "/f", 0, "127.0.0.1", kOther},
        {"nobody listening", "http://127.0.0.3:80/f", kBody, "200", "", kBodyMd5,
         kDownloadConnectFailed, nullptr},
    };
    for (const Case& c : cases) {
        fs::remove_all(m_folder);
        fs::create_directory(m_folder);
        const test::UpdateService& server = m_servers[c.server];
        server.Reply(c.body, c.status, c.mode);
        {
            std::ofstream old(m_folder + "/M100_V2.bin");
            old << c.existing;
        }
        std::string name = "stale";
        EXPECT_EQ(Fetch(c.url, c.md5, c.minFree, &name), c.result) << c.name;
        EXPECT_EQ(FolderNames(m_folder), std::vector<std::string>{"M100_V2.bin"}) << c.name;
        const std::string content = test::ReadWholeFile(m_folder + "/M100_V2.bin");
        EXPECT_EQ(content, c.result == kDownloadOk ? kBody : c.existing) << c.name;
        EXPECT_EQ(name, c.result == kDownloadOk ? "M100_V2.bin" : "") << c.name;
        std::vector<std::string> heads = server.Requests();
        if (c.target) {
            ASSERT_EQ(heads.size(), 1u) << c.name;
            EXPECT_EQ(RequestLine(heads[0]), std::string("GET ") + c.target + " HTTP/1.1")
                << c.name;
            // The client library writes Host first, as the request's own; the rest keep their
            // order.
            EXPECT_NE(heads[0].find("\r\nAccept-Language: zh-cn\r\nAccept: */*\r\nContent-Type: "
                                    "application/x-www-form-urlencoded\r\ncharset: UTF-8\r\n"
                                    "User-Agent: vextra/product-retrospect\r\nConnection: "
                                    "Keep-Alive"),
                      std::string::npos)
                << heads[0];
            EXPECT_NE(heads[0].find(std::string("\r\nHost: ") + c.host + "\r\n"), std::string::npos)
                << heads[0];
        } else {
            EXPECT_TRUE(heads.empty()) << c.name;
        }
    }
}

}  // namespace
}  // namespace orvane
