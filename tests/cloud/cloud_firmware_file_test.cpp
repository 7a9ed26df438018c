#include "cloud/cloud_firmware_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace orvane {
namespace {

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
