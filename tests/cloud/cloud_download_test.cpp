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

// Short waits, so a stalled server costs a fraction of a second.
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

// A plain HTTP download server on 127.0.0.2:443 (the port of https addresses) inside the
// test's network namespace, and a firmware folder.
class DownloadTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ORVANE_REQUIRE_PRIVATE_NETWORK();
        ASSERT_TRUE(m_server.StartPlain(m_serverDir.Path(), "127.0.0.2", 443));
        fs::create_directory(m_folder);
    }

    int Fetch(const std::string& url, const std::string& md5, std::string* name) {
        CloudFirmwareInfo info{"M100", "M100_V2", url, md5};
        return FetchCloudFirmware(info, m_folder, kTestLimits, nullptr, name);
    }

    test::TempDir m_serverDir;
    test::TempDir m_root;
    const std::string m_folder = m_root.Path() + "/Firmware";
    test::UpdateService m_server;
};

constexpr const char* kBody = "QVRFMW22 firmware bytes";
constexpr const char* kBodyMd5 = "2b5a2e49b819f3a2c3235013f04d1f23";

// Catches the download outcomes: the address as requested (entities resolved, https fetched
// as plain HTTP on 443), the digest compared without case, every failure with its code, and
// nothing unverified left in the folder (an older file of the name stays as it was).
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
    } cases[] = {
        {"lower-case digest", "http://127.0.0.2:443/fw/M100.bin", kBody, "200", "", kBodyMd5,
         kDownloadOk, "/fw/M100.bin"},
        {"upper-case digest", "http://127.0.0.2:443/f", kBody, "200", "",
         "2B5A2E49B819F3A2C3235013F04D1F23", kDownloadOk, "/f"},
        {"entities in the address", "http://127.0.0.2:443/get?id=7&amp;sig=a&amp;t=1", kBody, "200",
         "", kBodyMd5, kDownloadOk, "/get?id=7&sig=a&t=1"},
        {"https without TLS on 443", "https://127.0.0.2/fw.bin", kBody, "200", "", kBodyMd5,
         kDownloadOk, "/fw.bin"},
        {"status 404", "http://127.0.0.2:443/f", "gone", "404", "", kBodyMd5, kDownloadServerReject,
         "/f"},
        {"empty body", "http://127.0.0.2:443/f", "", "200", "", kBodyMd5, kDownloadMd5Error, "/f"},
        {"digest mismatch", "http://127.0.0.2:443/f", "tampered", "200", "", kBodyMd5,
         kDownloadMd5Error, "/f"},
        {"reset mid-body", "http://127.0.0.2:443/f", std::string(4096, 'x'), "200", "reset",
         kBodyMd5, kDownloadRequestFailed, "/f"},
        {"stall mid-body", "http://127.0.0.2:443/f", std::string(4096, 'x'), "200", "hold",
         kBodyMd5, kDownloadRequestFailed, "/f"},
        {"nobody listening", "http://127.0.0.3:80/f", kBody, "200", "", kBodyMd5,
         kDownloadConnectFailed, nullptr},
        {"no scheme", "127.0.0.2/f", kBody, "200", "", kBodyMd5, kDownloadUrlError, nullptr},
        {"empty address", "", kBody, "200", "", kBodyMd5, kDownloadEmptyParameter, nullptr},
    };
    for (const Case& c : cases) {
        fs::remove_all(m_folder);
        fs::create_directory(m_folder);
        m_server.Reply(c.body, c.status, c.mode);
        {
            std::ofstream old(m_folder + "/M100_V2.bin");
            old << "old";
        }
        std::string name = "stale";
        EXPECT_EQ(Fetch(c.url, c.md5, &name), c.result) << c.name;
        EXPECT_EQ(FolderNames(m_folder), std::vector<std::string>{"M100_V2.bin"}) << c.name;
        const std::string content = test::ReadWholeFile(m_folder + "/M100_V2.bin");
        EXPECT_EQ(content, c.result == kDownloadOk ? kBody : "old") << c.name;
        EXPECT_EQ(name, c.result == kDownloadOk ? "M100_V2.bin" : "") << c.name;
        std::vector<std::string> heads = m_server.Requests();
        if (c.target) {
            ASSERT_EQ(heads.size(), 1u) << c.name;
            EXPECT_EQ(RequestLine(heads[0]), std::string("GET ") + c.target + " HTTP/1.1")
                << c.name;
        } else {
            EXPECT_TRUE(heads.empty()) << c.name;
        }
    }
}

// Catches a missing or reordered header, or a Host naming the download server instead of the
// update host.
TEST_F(DownloadTest, RequestCarriesTheHeaderBlock) {
    m_server.Reply(kBody);
    std::string name;
    ASSERT_EQ(Fetch("http://127.0.0.2:443/f", kBodyMd5, &name), kDownloadOk);
    std::vector<std::string> heads = m_server.Requests();
    ASSERT_EQ(heads.size(), 1u);
    // The client library writes Host first, as the request's own; the rest keep their order.
    const std::string block =
        "\r\nAccept-Language: zh-cn\r\nAccept: */*\r\nContent-Type: "
        "application/x-www-form-urlencoded\r\ncharset: UTF-8\r\nUser-Agent: "
        "vextra/product-retrospect\r\nConnection: Keep-Alive";
    EXPECT_NE(heads[0].find(block), std::string::npos) << heads[0];
    EXPECT_NE(heads[0].find("\r\nHost: 127.0.0.1\r\n"), std::string::npos) << heads[0];
}

}  // namespace
}  // namespace orvane
