#include "cloud/cloud_reply.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "cloud/cloud_firmware_file.h"
#include "cloud/cloud_query.h"

namespace orvane {
namespace {

// Catches a reply parser that throws, overruns or accepts unusable documents: hostile roots,
// codes that are no integers, structured values where text is due, deep nesting, text after
// a zero byte.
TEST(CloudReplyTest, UnusableDocumentsGiveBadReply) {
    const std::pair<std::string, int> cases[] = {
        {"", kCloudBadReply},
        {R"([{"code":200}])", kCloudBadReply},  // root array
        {R"({"msg":"x"})", kCloudBadReply},
        {R"({"code":"200"})", kCloudBadReply},
        {R"({"code":99999999999})", kCloudBadReply},
        {R"({"code":200,"data":"x"})", kCloudBadReply},
        {R"({"code":200,"data":{"model":"M","device_identify":{},"file_url":"u","file_md5":"m"}})",
         kCloudBadReply},
        {std::string(100000, '['), kCloudBadReply},
        {R"({"code":403,"msg":{"a":1}})", 403},  // a refusal, its message structured
        {R"({"code":-5,"msg":"m"})", -5},
        {std::string("\0", 1) + R"({"code":404})", kCloudBadReply},  // nothing after a zero byte
        {std::string(R"({"code":404})") + std::string("\0junk", 5), 404},
        {R"({"code":200,"extra":[1],"data":{"model":"M","device_identify":"d","file_url":"u",)"
         R"("file_md5":"m","size":3}})",
         kCloudQueryOk},
    };
    for (const auto& [text, result] : cases) {
        CloudFirmwareInfo info;
        std::string message;
        EXPECT_EQ(ParseCloudReply(text.data(), text.size(), &info, &message), result)
            << text.substr(0, 100);
    }
}

// Catches entities resolved in the wrong order or only once: each replacement runs over the
// whole result of the one before.
TEST(UnescapeXmlEntitiesTest, ResolvesInOrder) {
    struct Case {
        const char* in;
        const char* out;
    } cases[] = {
        {"http://h/f?a=1&amp;b=2&amp;c=3", "http://h/f?a=1&b=2&c=3"},
        {"&amp;lt;", "<"},  // "&amp;" first makes a "&lt;" the later pass resolves
        {"&lt;&gt;&quot;&apos;", "<>\"'"},
        {"&amp;amp;", "&amp;"},  // one pass per entity, not until nothing changes
        {"&am;p &", "&am;p &"},
        {"", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(UnescapeXmlEntities(c.in), c.out) << c.in;
    }
}

// Catches an identifier from the network naming a file outside the folder, a hidden file, or
// one the system cannot create.
TEST(IsSafeFirmwareIdentifierTest, RefusesHostileNames) {
    std::vector<std::string> refused = {"",    "/",    "\\",   "..",      "../x",
                                        "a/b", "a\\b", "x..y", ".hidden", "."};
    refused.push_back(std::string("ab\0c", 4));  // a NUL would cut the name short
    refused.push_back(std::string(252, 'a'));    // with ".bin" longer than a name may be
    for (const std::string& id : refused) {
        EXPECT_FALSE(IsSafeFirmwareIdentifier(id)) << id;
    }
    for (const std::string& id :
         {std::string("M100_V2.0.0.1"), std::string(251, 'a'), std::string("a.b-c_d")}) {
        EXPECT_TRUE(IsSafeFirmwareIdentifier(id)) << id;
    }
}

}  // namespace
}  // namespace orvane
