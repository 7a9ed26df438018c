#include "cloud/cloud_reply.h"

#include <gtest/gtest.h>

#include <string>

#include "cloud/cloud_query.h"

namespace orvane {
namespace {

// Catches a reply parser that throws, overruns or accepts unusable documents: hostile roots,
// codes that are no integers, structured values where text is due, deep nesting, text after
// a zero byte.
TEST(CloudReplyTest, UnusableDocumentsGiveBadReply) {
    struct Case {
        const char* name;
        std::string text;
        int result;
    } cases[] = {
        {"empty", "", kCloudBadReply},
        {"root array", R"([{"code":200}])", kCloudBadReply},
        {"no code", R"({"msg":"x"})", kCloudBadReply},
        {"code as text", R"({"code":"200"})", kCloudBadReply},
        {"code too big", R"({"code":99999999999})", kCloudBadReply},
        {"data not object", R"({"code":200,"data":"x"})", kCloudBadReply},
        {"data member object",
         R"({"code":200,"data":{"model":"M","device_identify":{},"file_url":"u","file_md5":"m"}})",
         kCloudBadReply},
        {"deep nesting", std::string(100000, '['), kCloudBadReply},
        {"refusal with structured msg", R"({"code":403,"msg":{"a":1}})", 403},
        {"negative code", R"({"code":-5,"msg":"m"})", -5},
        {"good after zero byte is not read", std::string("\0", 1) + R"({"code":404})",
         kCloudBadReply},
        {"zero byte ends the text", std::string(R"({"code":404})") + std::string("\0junk", 5), 404},
        {"good",
         R"({"code":200,"extra":[1],"data":{"model":"M","device_identify":"d","file_url":"u",)"
         R"("file_md5":"m","size":3}})",
         kCloudQueryOk},
    };
    for (const Case& c : cases) {
        CloudFirmwareInfo info;
        std::string message;
        EXPECT_EQ(ParseCloudReply(c.text.data(), c.text.size(), &info, &message), c.result)
            << c.name;
    }
}

}  // namespace
}  // namespace orvane
