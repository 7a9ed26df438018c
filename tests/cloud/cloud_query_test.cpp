#include "cloud/cloud_query.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "cloud/cloud_firmware_file.h"
#include "common/netns.h"
#include "common/recording_view.h"
#include "common/temp_dir.h"
#include "common/update_service.h"
#include "protocol/orvane_engine.h"

namespace orvane {
namespace {

const std::string kGoodReply =
    R"({"code":200,"msg":"ok","data":{"model":"M100","device_identify":"M100_V2",)"
    R"("file_url":"http://127.0.0.1/f.bin?a=1&amp;b=2","file_md5":"0123ABCD"}})";

std::string Padded(size_t size) {
    return kGoodReply + std::string(size - kGoodReply.size(), ' ');
}

// The update service inside the test's own network namespace.
class UpdateServiceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ORVANE_REQUIRE_PRIVATE_NETWORK();
        ASSERT_TRUE(m_service.Start(m_dir.Path()));
    }

    test::TempDir m_dir;
    test::UpdateService m_service;
};

// Catches a wrong query address (the type from the exact "VX" prefix, the language code of
// the effective language, the model sent raw), a query that skips the opening request or
// sends the header block wrongly (the reply read must be the one to the second request), a
// refusal read as success or with its message lost, and an over-long body overrunning the
// 10240-byte reply buffer instead of failing the query.
TEST_F(UpdateServiceTest, QueryAddressHeadersAndResults) {
    test::RecordingView view;
    OrvaneEngine engine(view);
    struct Case {
        std::string model;
        int language;
        const char* query;
        std::string body = kGoodReply;
        int result = kCloudQueryOk;
        const char* message = "";
    } cases[] = {
        {"M100", 2, "model=M100&type=1&language=en"},
        {"VX3000", 1, "model=VX3000&type=2&language=zh_CN"},
        {"vx3000", 2, "model=vx3000&type=1&language=en"},
        {"V", 2, "model=V&type=1&language=en"},
        {"A&B C", 2, "model=A&B C&type=1&language=en"},
        {"M1", 2, "model=M1&type=1&language=en", R"({"code":404,"msg":"no firmware"})", 404,
         "no firmware"},
        {"M2", 2, "model=M2&type=1&language=en", Padded(10239)},
        {"M3", 2, "model=M3&type=1&language=en", Padded(10240), kCloudBadReply},
        {"M4", 2, "model=M4&type=1&language=en", std::string(1 << 20, '['), kCloudBadReply},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.model);
        m_service.Reply(c.body);
        CloudFirmwareInfo info;
        std::string message = "stale";
        EXPECT_EQ(QueryCloudFirmware(c.model, CloudQueryType(c.model),
                                     engine.Cloud().LanguageCode(c.language), &info, &message),
                  c.result);
        EXPECT_EQ(message, c.message);
        EXPECT_EQ(
            info.model + " " + info.device_identify + " " + info.file_url + " " + info.file_md5,
            c.result == kCloudQueryOk ? "M100 M100_V2 http://127.0.0.1/f.bin?a=1&amp;b=2 0123ABCD"
                                      : "   ");
        const std::vector<std::string> heads = m_service.Requests();
        ASSERT_EQ(heads.size(), 2u);
        EXPECT_EQ(heads[1].substr(0, heads[1].find("\r\n")),
                  std::string("GET /update/get/latest/firmware/by/model?") + c.query + " HTTP/1.1");
        EXPECT_EQ(heads[0].find("charset:"), std::string::npos) << heads[0];
        // The client library writes Host first, as the request's own; the rest keep their order.
        EXPECT_NE(heads[1].find("\r\nAccept-Language: zh-cn\r\nAccept: */*\r\nContent-Type: "
                                "application/x-www-form-urlencoded\r\ncharset: UTF-8\r\n"
                                "Connection: Keep-Alive"),
                  std::string::npos)
            << heads[1];
        EXPECT_NE(heads[1].find("\r\nHost: 127.0.0.1\r\n"), std::string::npos) << heads[1];
    }
}

// Catches transport failures that crash, hang or read as success: a service that hangs up
// without a reply, a body cut short after the reply began, no listener.
TEST_F(UpdateServiceTest, TransportFailures) {
    CloudFirmwareInfo info;
    std::string message;
    m_service.Reply(kGoodReply, "200", "hangup");
    EXPECT_EQ(QueryCloudFirmware("M100", "1", "en", &info, &message), kCloudNoReply);
    m_service.Reply(kGoodReply, "200", "truncate");
    EXPECT_EQ(QueryCloudFirmware("M100", "1", "en", &info, &message), kCloudConnectFailed);
    test::SetEnvironment("ORVANE_UPDATE_HOST", "127.0.0.4");  // nothing listens there
    EXPECT_EQ(QueryCloudFirmware("M100", "1", "en", &info, &message), kCloudConnectFailed);
    EXPECT_FALSE(IsCloudReachable());
    test::SetEnvironment("ORVANE_UPDATE_HOST", "127.0.0.1");
}

// Catches a reachability check that accepts any status or ignores the CA file, or that holds
// Start for as long as a host that took the connection (TLS included) stays silent: the whole
// check has a 4 s deadline, where one without it waits 30 s or more.
TEST_F(UpdateServiceTest, ReachableOnlyWithStatus200OverTrustedTlsWithinTheDeadline) {
    m_service.RootStatus("200");
    EXPECT_TRUE(IsCloudReachable());
    m_service.RootStatus("503");
    EXPECT_FALSE(IsCloudReachable());
    m_service.RootStatus("200");
    test::SetEnvironment("CURL_CA_BUNDLE", m_service.OtherCaPath());  // not the service's CA
    EXPECT_FALSE(IsCloudReachable());
    test::SetEnvironment("CURL_CA_BUNDLE", m_service.CertificatePath());
    m_service.Reply(kGoodReply);  // starts the request log afresh
    m_service.RootStatus("silent");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(IsCloudReachable());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_EQ(m_service.Requests().size(), 1u);  // the check got as far as its request
    m_service.Release();
}

namespace fs = std::filesystem;

constexpr const char* kBody = "QVRFMW22 firmware bytes";
constexpr const char* kBodyMd5 = "2b5a2e49b819f3a2c3235013f04d1f23";
constexpr const char* kOther = "other model firmware";  // the stand-in check refuses "other..."
constexpr const char* kOtherMd5 = "04ca17d312e2df0ade47a76474f01f48";
const std::string kPlain = "http://127.0.0.2:443";

// Catches a download fetched from the wrong address or with the wrong headers, a failure with
// the wrong code, and anything unverified or of another model left in the folder. Servers:
// [0] plain HTTP on 127.0.0.2:443, [1] the update service (TLS on 127.0.0.1:443, a certificate
// the client trusts), [2] the same certificate (naming 127.0.0.1) on 127.0.0.3:443.
TEST_F(UpdateServiceTest, DownloadOutcomesAndWhatTheFolderHolds) {
    test::TempDir plainDir, root;
    test::UpdateService plain, otherHost;
    ASSERT_TRUE(plain.StartPlain(plainDir.Path(), "127.0.0.2", 443));
    ASSERT_TRUE(otherHost.Start(m_dir.Path(), 443, "127.0.0.3"));
    const test::UpdateService* servers[] = {&plain, &m_service, &otherHost};
    test::SetEnvironment("ORVANE_UPDATE_HOST",
                         "up");  // named in Host only: nothing here resolves it
    const std::string folder = root.File("Firmware");
    const std::string file = folder + "/M100_V2.bin";
    EXPECT_EQ(DownloadCloudFile("", file), kDownloadEmptyParameter);
    struct Case {
        const char* name;
        std::string url;
        std::string body;
        std::string md5;
        int result;
        const char* target;  // the request line's target; null when no request is expected
        int server = 0;
        std::string existing = "old";  // the file of that name already in the folder
        const char* mode = "";
        long long minFree = kMinFreeAfterDownload;
        const char* status = "200";
    } cases[] = {
        {"lower-case digest", kPlain + "/fw/M100.bin", kBody, kBodyMd5, kDownloadOk,
         "/fw/M100.bin"},
        {"upper-case digest", kPlain + "/f", kBody, "2B5A2E49B819F3A2C3235013F04D1F23", kDownloadOk,
         "/f"},
        {"entities in the address", kPlain + "/get?id=7&amp;sig=a", kBody, kBodyMd5, kDownloadOk,
         "/get?id=7&sig=a"},
        {"https over TLS", "https://127.0.0.1/fw.bin", kBody, kBodyMd5, kDownloadOk, "/fw.bin", 1},
        {"certificate of another host", "https://127.0.0.3/fw.bin", kBody, kBodyMd5,
         kDownloadConnectFailed, nullptr, 2},
        {"empty body", kPlain + "/f", "", kBodyMd5, kDownloadMd5Error, "/f"},
        {"digest mismatch", kPlain + "/f", "tampered", kBodyMd5, kDownloadMd5Error, "/f"},
        {"3 GiB announced", kPlain + "/f", kBody, kBodyMd5, kDownloadError, "/f", 0, "old", "huge"},
        {"too little room left", kPlain + "/f", kBody, kBodyMd5, kDownloadError, "/f", 0, "old", "",
         1LL << 62},
        {"firmware of another model", kPlain + "/f", kOther, kOtherMd5, kDownloadError, "/f"},
        {"refused with a body", kPlain + "/f", kBody, kBodyMd5, kDownloadServerReject, "/f", 0,
         "old", "", kMinFreeAfterDownload, "404"},
        {"the operator's file of another model", kPlain + "/f", kBody, kBodyMd5, kDownloadError,
         "/f", 0, kOther},
        {"nobody listening", "http://127.0.0.3:80/f", kBody, kBodyMd5, kDownloadConnectFailed,
         nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(folder);
        fs::create_directory(folder);
        root.Write("Firmware/M100_V2.bin", c.existing);
        servers[c.server]->Reply(c.body, c.status, c.mode);
        const FirmwareCheck isWanted = [](const std::string& path) {
            return test::ReadWholeFile(path).rfind("other", 0) != 0;
        };
        std::string name = "stale";
        EXPECT_EQ(FetchCloudFirmware(CloudFirmwareInfo{"M100", "M100_V2", c.url, c.md5}, folder,
                                     DownloadLimits{2000, 2000, 300, c.minFree}, nullptr, isWanted,
                                     &name),
                  c.result);
        EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
        EXPECT_EQ(test::ReadWholeFile(file), c.result == kDownloadOk ? kBody : c.existing);
        EXPECT_EQ(name, c.result == kDownloadOk ? "M100_V2.bin" : "");
        const std::vector<std::string> heads = servers[c.server]->Requests();
        ASSERT_EQ(heads.size(), c.target ? 1u : 0u);
        if (c.target) {
            EXPECT_EQ(heads[0].substr(0, heads[0].find("\r\n")),
                      std::string("GET ") + c.target + " HTTP/1.1");
            // The client library writes Host first, as the request's own; the rest keep their
            // order.
            EXPECT_NE(heads[0].find("\r\nAccept-Language: zh-cn\r\nAccept: */*\r\nContent-Type: "
                                    "application/x-www-form-urlencoded\r\ncharset: UTF-8\r\n"
                                    "User-Agent: vextra/product-retrospect\r\nConnection: "
                                    "Keep-Alive"),
                      std::string::npos)
                << heads[0];
            // Host: the update host over plain HTTP, the address's own over TLS.
            EXPECT_NE(heads[0].find(c.server == 1 ? "\r\nHost: 127.0.0.1\r\n" : "\r\nHost: up\r\n"),
                      std::string::npos)
                << heads[0];
        }
    }
}

}  // namespace
}  // namespace orvane
