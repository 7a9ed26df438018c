#include "cloud/cloud_query.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/netns.h"
#include "common/recording_view.h"
#include "common/temp_dir.h"
#include "common/update_service.h"
#include "protocol/orvane_engine.h"

namespace orvane {
namespace {

const char* const kGoodReply =
    R"({"code":200,"msg":"ok","data":{"model":"M100","device_identify":"M100_V2",)"
    R"("file_url":"http://127.0.0.1/f.bin?a=1&amp;b=2","file_md5":"0123ABCD"}})";

// The update service inside the test's own network namespace.
class UpdateServiceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ORVANE_REQUIRE_PRIVATE_NETWORK();
        ASSERT_TRUE(m_service.Start(m_dir.Path()));
    }
    void TearDown() override {
        unsetenv("CURL_CA_BUNDLE");
        g_bTestMode = false;
    }

    int Query(const std::string& model, CloudFirmwareInfo* info = nullptr,
              std::string* message = nullptr) {
        CloudFirmwareInfo localInfo;
        std::string localMessage;
        return QueryCloudFirmware(model, CloudQueryType(model), "en", info ? info : &localInfo,
                                  message ? message : &localMessage);
    }

    test::TempDir m_dir;
    test::UpdateService m_service;
};

// Catches a wrong query address (the type from the exact "VX" prefix, the language code of
// the effective language, the model sent raw: "&" and blanks unescaped), a query that skips
// the opening request, or a header block sent wrongly: the reply read is the one to the
// second request, which carries the block's lines.
TEST_F(UpdateServiceTest, QueryAddressAndHeaders) {
    test::RecordingView view;
    OrvaneEngine engine(view);
    struct Case {
        std::string model;
        int language;
        const char* query;
    } cases[] = {
        {"M100", 2, "model=M100&type=1&language=en"},
        {"VX3000", 1, "model=VX3000&type=2&language=zh_CN"},
        {"vx3000", 2, "model=vx3000&type=1&language=en"},
        {"V", 2, "model=V&type=1&language=en"},
        {"A&B C", 2, "model=A&B C&type=1&language=en"},
    };
    for (const Case& c : cases) {
        m_service.Reply(kGoodReply);
        CloudFirmwareInfo info;
        std::string message;
        EXPECT_EQ(QueryCloudFirmware(c.model, CloudQueryType(c.model),
                                     engine.LanguageCode(c.language), &info, &message),
                  kCloudQueryOk)
            << c.model;
        EXPECT_EQ(
            info.model + " " + info.device_identify + " " + info.file_url + " " + info.file_md5,
            "M100 M100_V2 http://127.0.0.1/f.bin?a=1&amp;b=2 0123ABCD");
        std::vector<std::string> heads = m_service.Requests();
        ASSERT_EQ(heads.size(), 2u) << c.model;
        EXPECT_EQ(heads[1].substr(0, heads[1].find("\r\n")),
                  std::string("GET /update/get/latest/firmware/by/model?") + c.query + " HTTP/1.1");
    }
    std::vector<std::string> heads = m_service.Requests();
    EXPECT_EQ(heads[0].find("charset:"), std::string::npos) << heads[0];
    // The client library writes Host first, as the request's own; the rest keep their order.
    const std::string block =
        "\r\nAccept-Language: zh-cn\r\nAccept: */*\r\nContent-Type: "
        "application/x-www-form-urlencoded\r\ncharset: UTF-8\r\nConnection: Keep-Alive";
    EXPECT_NE(heads[1].find(block), std::string::npos) << heads[1];
    EXPECT_NE(heads[1].find("\r\nHost: 127.0.0.1\r\n"), std::string::npos) << heads[1];
}

// Catches a refusal read as success or with its code and message lost, and an over-long body
// overrunning the reply buffer instead of failing the query (the parser's own rules are
// tested without a network).
TEST_F(UpdateServiceTest, RepliesAndTheirResults) {
    const std::string padded = std::string(kGoodReply);
    struct Case {
        const char* name;
        std::string body;
        int result;
        const char* message;
    } cases[] = {
        {"refused", R"({"code":404,"msg":"no firmware"})", 404, "no firmware"},
        {"body of exactly 10239 bytes", padded + std::string(10239 - padded.size(), ' '),
         kCloudQueryOk, ""},
        {"body of 10240 bytes", padded + std::string(10240 - padded.size(), ' '), kCloudBadReply,
         ""},
        {"huge body", std::string(1 << 20, '['), kCloudBadReply, ""},
    };
    for (const Case& c : cases) {
        m_service.Reply(c.body);
        std::string message = "stale";
        CloudFirmwareInfo info;
        EXPECT_EQ(Query("M100", &info, &message), c.result) << c.name;
        EXPECT_EQ(message, c.message) << c.name;
        EXPECT_EQ(info.file_url.empty(), c.result != kCloudQueryOk) << c.name;
    }
}

// Catches transport failures that crash, hang or read as success: no listener (3), a service
// that hangs up without a reply (2), a body cut short after the reply began (non-zero).
TEST_F(UpdateServiceTest, TransportFailures) {
    m_service.Reply(kGoodReply, "200", "hangup");
    EXPECT_EQ(Query("M100"), kCloudNoReply);
    m_service.Reply(kGoodReply, "200", "truncate");
    EXPECT_EQ(Query("M100"), kCloudConnectFailed);
    setenv("ORVANE_UPDATE_HOST", "127.0.0.2", 1);  // nothing listens there
    m_service.Reply(kGoodReply);
    EXPECT_EQ(Query("M100"), kCloudConnectFailed);
    EXPECT_FALSE(IsCloudReachable());
    setenv("ORVANE_UPDATE_HOST", "127.0.0.1", 1);
}

// Catches a reachability check that holds Start for as long as a host that took the
// connection (TLS included) stays silent: the whole check has a 4 s deadline.
TEST_F(UpdateServiceTest, SilentHostIsGivenUpWithinTheDeadline) {
    m_service.Reply(kGoodReply);  // starts the request log afresh
    m_service.RootStatus("silent");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(IsCloudReachable());
    // Generous: the deadline is 4 s, a check without one waits 30 s or more.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_EQ(m_service.Requests().size(), 1u);  // the check got as far as its request
    m_service.Release();
}

// Catches a reachability check that accepts any status, or one that ignores the CA file.
TEST_F(UpdateServiceTest, ReachableOnlyWithStatus200OverTrustedTls) {
    m_service.RootStatus("200");
    EXPECT_TRUE(IsCloudReachable());
    m_service.RootStatus("503");
    EXPECT_FALSE(IsCloudReachable());
    m_service.RootStatus("200");
    setenv("CURL_CA_BUNDLE", m_service.KeyPath().c_str(), 1);  // not the service's CA
    EXPECT_FALSE(IsCloudReachable());
}

}  // namespace
}  // namespace orvane
