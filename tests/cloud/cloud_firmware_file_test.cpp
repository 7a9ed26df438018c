#include "cloud/cloud_firmware_file.h"

#include <gtest/gtest.h>

#include <string>

#include "common/temp_dir.h"

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

// Catches a wrong digest (RFC 1321 vectors, and one spanning several 1024-byte reads) and an
// unreadable file reported as a digest.
TEST(GetFileMd5Test, DigestOfFiles) {
    test::TempDir dir;
    struct Case {
        std::string content;
        const char* md5;
    } cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {std::string(3000, 'a'), "6ca003d00c9bb4569a4a27d751db7a89"},
    };
    for (const Case& c : cases) {
        dir.Write("f", c.content);
        std::string md5 = "stale";
        EXPECT_TRUE(GetFileMd5(dir.File("f"), &md5));
        EXPECT_EQ(md5, c.md5) << c.content.size();
    }
    std::string md5 = "stale";
    EXPECT_FALSE(GetFileMd5(dir.File("absent"), &md5));
    EXPECT_EQ(md5, "");
    EXPECT_FALSE(GetFileMd5(dir.Path(), &md5));  // a folder
}

// Catches an identifier from the network naming a file outside the folder, a hidden file, or
// one the system cannot create.
TEST(IsSafeFirmwareIdentifierTest, RefusesHostileNames) {
    const std::string refused[] = {
        "",
        "/",
        "\\",
        "..",
        "../x",
        "a/b",
        "a\\b",
        "x..y",
        ".hidden",
        ".",
        std::string("ab\0c", 4),  // a NUL would cut the name short
        std::string(252, 'a'),    // with ".bin" longer than a file name may be
    };
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
