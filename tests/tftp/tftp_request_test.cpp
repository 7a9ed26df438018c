#include "tftp/tftp_request.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/file.h"

namespace orvane {
namespace {

std::vector<uint8_t> Bytes(const std::string& s) {
    return std::vector<uint8_t>(s.begin(), s.end());
}

TftpRequestFields Split(const std::string& s) {
    std::vector<uint8_t> b = Bytes(s);
    return SplitTftpRequest(b.data(), b.size());
}

// Catches a request splitter that reads past the datagram, keeps text beyond byte 509, or
// takes a name without a value as an option.
TEST(TftpRequestTest, SplitsFieldsWithinTheReadableBytes) {
    struct Case {
        const char* what;
        std::string wire;
        int opcode;
        std::string name;
        std::string mode;
        std::vector<std::pair<std::string, std::string>> options;
    };
    const std::string longName(600, 'n');
    const std::vector<Case> cases = {
        {"plain read",
         std::string("\0\1", 2) + "fw.bin" + '\0' +  // opcode, name
             "octet" + '\0',                         // mode
         1,
         "fw.bin",
         "octet",
         {}},
        {"write with options, case kept",
         std::string("\0\2", 2) + "up.bin" + '\0' + "NetAscii" + '\0' + "BlkSize" + '\0' + "1432" +
             '\0' +                        // first option
             "tsize" + '\0' + "0" + '\0',  // second option
         2,
         "up.bin",
         "NetAscii",
         {{"BlkSize", "1432"}, {"tsize", "0"}}},
        {"empty strings between options are skipped",
         std::string("\0\1", 2) + "a" + '\0' + "octet" + '\0' + '\0' + '\0' + "timeout" + '\0' +
             "3" + '\0',
         1,
         "a",
         "octet",
         {{"timeout", "3"}}},
        {"unterminated value ends at the datagram's end",
         std::string("\0\1", 2) + "a" + '\0' + "octet" + '\0' + "blksize" + '\0' + "1024",
         1,
         "a",
         "octet",
         {{"blksize", "1024"}}},
        {"name without value ends the list",
         std::string("\0\1", 2) + "a" + '\0' + "octet" + '\0' + "tsize",
         1,
         "a",
         "octet",
         {}},
        {"missing mode", std::string("\0\1", 2) + "a", 1, "a", "", {}},
        {"name cut at byte 509",
         std::string("\0\1", 2) + longName + '\0' + "octet" + '\0',
         1,
         std::string(507, 'n'),
         "",
         {}},
        {"lone byte", std::string("\0", 1), 0, "", "", {}},
        {"data opcode", std::string("\0\3\0\1", 4), 3, "", std::string("\1", 1), {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TftpRequestFields f = Split(c.wire);
        EXPECT_EQ(f.opcode, c.opcode);
        EXPECT_EQ(f.fileName, c.name);
        EXPECT_EQ(f.mode, c.mode);
        ASSERT_EQ(f.options.size(), c.options.size());
        for (size_t i = 0; i < c.options.size(); ++i) {
            EXPECT_EQ(f.options[i].name, c.options[i].first);
            EXPECT_EQ(f.options[i].value, c.options[i].second);
        }
    }
}

// Catches a mode table that refuses a valid mode in another letter case or takes any text.
TEST(TftpRequestTest, ModesAreRecognisedWithoutRegardToCase) {
    const std::vector<std::pair<std::string, int>> cases = {
        {"octet", 0}, {"BINARY", 0},  {"netascii", 1}, {"Ascii", 1},
        {"MAIL", 2},  {"octets", -1}, {"", -1},        {"image", -1},
    };
    for (const auto& [mode, expected] : cases) {
        EXPECT_EQ(TftpModeFromText(mode), expected) << mode;
    }
}

// Catches a name check that lets a client climb out of the root or confuses separators.
TEST(TftpRequestTest, NamesAreNormalisedRefusedAndJoinedUnderTheRoot) {
    struct Case {
        std::string requested;
        bool refused;
        std::string full;  // joined under "/srv/fw" when not refused
    };
    const std::vector<Case> cases = {
        {"x.bin", false, "/srv/fw/x.bin"},
        {"sub/x.bin", false, "/srv/fw/sub/x.bin"},
        {"sub\\x.bin", false, "/srv/fw/sub/x.bin"},
        {"/x.bin", false, "/srv/fw/x.bin"},  // a leading separator is not the file root
        {"\\etc\\passwd", false, "/srv/fw/etc/passwd"},
        {"../x.bin", true, ""},
        {"sub/../../x.bin", true, ""},
        {"..\\x.bin", true, ""},
        {"a//b.bin", true, ""},
        {"a\\\\b.bin", true, ""},
        {"a/\\b.bin", true, ""},
        {"//etc/passwd", true, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.requested);
        const std::string name = NormaliseTftpName(c.requested);
        EXPECT_EQ(IsRefusedTftpName(name), c.refused);
        if (!c.refused) {
            EXPECT_EQ(JoinTftpPath("/srv/fw", name), c.full);
            EXPECT_EQ(JoinTftpPath("/srv/fw/", name), c.full);
        }
    }
    EXPECT_EQ(JoinTftpPath("", "/x.bin"), "./x.bin");
    EXPECT_EQ(JoinTftpPath("", "x.bin"), "x.bin");
}

// Catches a containment test fooled by a sibling folder sharing the root's prefix.
TEST(TftpRequestTest, PathInsideRootComparesWholeComponents) {
    struct Case {
        const char* root;
        const char* path;
        bool inside;
    };
    const std::vector<Case> cases = {
        {"/srv/fw", "/srv/fw/x.bin", true},   {"/srv/fw", "/srv/fw", true},
        {"/srv/fw", "/srv/fw2/x.bin", false}, {"/srv/fw", "/srv/x.bin", false},
        {"/srv/fw", "/etc/passwd", false},    {"/", "/etc/passwd", true},
        {"", "/srv/fw/x.bin", false},         {"/srv/fw", "", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(platform::IsPathInsideRoot(c.root, c.path), c.inside) << c.root << " " << c.path;
    }
}

std::string Oack(const TftpNegotiation& n) {
    return PrintableOack(n.options.data(), n.optionLength);
}

// Catches option negotiation that accepts sizes the buffers cannot hold, echoes refused
// options, or answers a read's tsize with anything but the file size.
TEST(TftpRequestTest, OptionsAreNegotiatedIntoTheOack) {
    struct Case {
        const char* what;
        bool isRead;
        std::vector<TftpOption> options;
        uint32_t blockSize;
        int timeout;
        uint32_t fileSize;
        std::string oack;
    };
    const std::vector<Case> cases = {
        {"blksize and tsize 0",
         true,
         {{"blksize", "1432"}, {"tsize", "0"}},
         1432,
         5,
         5000000,
         "blksize=1432,tsize=5000000,"},
        {"blksize 4 refused", true, {{"blksize", "4"}}, 512, 5, 5000000, ""},
        {"blksize 8 is the smallest", true, {{"blksize", "8"}}, 8, 5, 5000000, "blksize=8,"},
        {"blksize -1 answered with the largest",
         true,
         {{"blksize", "-1"}},
         16384,
         5,
         5000000,
         "blksize=16384,"},
        {"blksize 65464 answered with the largest",
         true,
         {{"BLKSIZE", "65464"}},
         16384,
         5,
         5000000,
         "BLKSIZE=16384,"},
        {"timeout 0 ignored", true, {{"timeout", "0"}}, 512, 5, 5000000, ""},
        {"timeout 300 ignored", true, {{"timeout", "300"}}, 512, 5, 5000000, ""},
        {"timeout 10 echoed as written",
         true,
         {{"Timeout", "010"}},
         512,
         10,
         5000000,
         "Timeout=010,"},
        {"unknown option only", true, {{"multicast", ""}}, 512, 5, 5000000, ""},
        {"write tsize echoed and taken", false, {{"tsize", "777"}}, 512, 5, 777, "tsize=777,"},
        {"repeats are ignored",
         true,
         {{"blksize", "1024"}, {"blksize", "2048"}, {"tsize", "0"}, {"tsize", "0"}},
         1024,
         5,
         5000000,
         "blksize=1024,tsize=5000000,"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TftpNegotiation n;
        n.timeoutSeconds = 5;
        n.fileSize = 5000000;
        NegotiateTftpOptions(c.options, c.isRead, &n);
        EXPECT_EQ(n.blockSize, c.blockSize);
        EXPECT_EQ(n.timeoutSeconds, c.timeout);
        EXPECT_EQ(n.fileSize, c.fileSize);
        EXPECT_EQ(Oack(n), c.oack);
    }
}

// Catches an OACK builder that overruns its packet when a request is full of long values.
TEST(TftpRequestTest, OackNeverOverrunsItsPacket) {
    const std::string longValue(490, '7');
    std::vector<TftpOption> options = {
        {"timeout", "5"}, {"tsize", longValue}, {"blksize", "99999"}};
    TftpNegotiation n;
    NegotiateTftpOptions(options, false, &n);
    EXPECT_LE(n.optionLength, n.options.size());
    EXPECT_EQ(n.blockSize, 512u);  // no room left for blksize: not acknowledged, not used
}

// Catches ERROR packets with a wrong layout (code, text, terminator), an unknown code sent
// without a text, or a packet built past a buffer too small for it.
TEST(TftpRequestTest, ErrorPacketsCarryCodeAndText) {
    const std::vector<std::pair<int, std::string>> cases = {
        {99, "Cancelled by administrator"},
        {42, "Undefined error code"},
    };
    for (const auto& [code, text] : cases) {
        uint8_t buf[64] = {};
        size_t len = BuildTftpError(buf, sizeof buf, code);
        ASSERT_EQ(len, 5 + text.size());
        EXPECT_EQ(buf[1], kTftpError);
        EXPECT_EQ((buf[2] << 8) | buf[3], code);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(buf + 4)), text);
        EXPECT_EQ(buf[len - 1], 0);
    }
    uint8_t small[8];
    EXPECT_EQ(BuildTftpError(small, sizeof small, 99), 0u);
}

}  // namespace
}  // namespace orvane
