#include "tftp/tftp_request.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "platform/file.h"
#include "tftp/tftp_fixture.h"

namespace orvane {
namespace {

using test::Wire;  // "|" for a NUL

// Catches a request splitter that reads past the datagram, keeps text beyond byte 509, or
// takes a name without a value as an option.
TEST(TftpRequestTest, SplitsFieldsWithinTheReadableBytes) {
    const std::string longName(600, 'n');
    const std::pair<std::string, std::string> cases[] = {
        // wire ("|" is NUL), then "opcode name mode name=value,..." as split
        {"|\1fw.bin|octet|", "1 fw.bin octet "},
        {"|\2up.bin|NetAscii|BlkSize|1432|tsize|0|", "2 up.bin NetAscii BlkSize=1432,tsize=0,"},
        {"|\1a|octet|||timeout|3|", "1 a octet timeout=3,"},     // empty strings are skipped
        {"|\1a|octet|blksize|1024", "1 a octet blksize=1024,"},  // the datagram ends the value
        {"|\1a|octet|tsize", "1 a octet "},  // a name without value ends the list
        {"|\1a", "1 a  "},
        {"|\1" + longName + "|octet|", "1 " + longName.substr(0, 507) + "  "},  // cut at 509
        {"|", "0   "},
        {"|\3|\1", "3  \1 "},
    };
    for (const auto& [wire, split] : cases) {
        const std::vector<uint8_t> bytes = Wire(wire);
        const TftpRequestFields f = SplitTftpRequest(bytes.data(), bytes.size());
        std::string got = std::to_string(f.opcode) + " " + f.fileName + " " + f.mode + " ";
        for (const TftpOption& o : f.options) {
            got += o.name + "=" + o.value + ",";
        }
        EXPECT_EQ(got, split) << wire;
    }
}

// Catches a name check that lets a client climb out of the root or confuses separators, and
// a containment test fooled by a sibling folder sharing the root's prefix.
TEST(TftpRequestTest, NamesStayUnderTheRoot) {
    const std::pair<const char*, const char*> cases[] = {
        // requested, then joined under "/srv/fw" ("" when refused)
        {"x.bin", "/srv/fw/x.bin"},
        {"sub\\x.bin", "/srv/fw/sub/x.bin"},
        {"/x.bin", "/srv/fw/x.bin"},  // a leading separator is not the file system's root
        {"\\etc\\passwd", "/srv/fw/etc/passwd"},
        {"../x.bin", ""},
        {"sub/../../x.bin", ""},
        {"..\\x.bin", ""},
        {"a//b.bin", ""},
        {"a\\\\b.bin", ""},
        {"a/\\b.bin", ""},
        {"//etc/passwd", ""},
    };
    for (const auto& [requested, full] : cases) {
        const std::string name = NormaliseTftpName(requested);
        EXPECT_EQ(IsRefusedTftpName(name), *full == '\0') << requested;
        if (*full) {
            EXPECT_EQ(JoinTftpPath("/srv/fw", name), full);
            EXPECT_EQ(JoinTftpPath("/srv/fw/", name), full);
        }
    }
    EXPECT_EQ(JoinTftpPath("", "/x.bin"), "./x.bin");
    EXPECT_EQ(JoinTftpPath("", "x.bin"), "x.bin");

    // root, path, then whether the path lies inside
    const std::tuple<const char*, const char*, bool> paths[] = {
        {"/srv/fw", "/srv/fw/x.bin", true}, {"/srv/fw", "/srv/fw", true},
        {"/", "/etc/passwd", true},         {"/srv/fw", "/srv/fw2/x.bin", false},
        {"/srv/fw", "/srv/x.bin", false},   {"/srv/fw", "/etc/passwd", false},
        {"", "/srv/fw/x.bin", false},       {"/srv/fw", "", false}};
    for (const auto& [root, path, inside] : paths) {
        EXPECT_EQ(platform::IsPathInsideRoot(root, path), inside) << root << " " << path;
    }
}

// Catches option negotiation that accepts sizes the buffers cannot hold, echoes refused
// options, answers a read's tsize with anything but the file size, or lets a request full of
// long values overrun the OACK's packet, or grants a window larger than asked or allowed.
TEST(TftpRequestTest, OptionsAreNegotiatedIntoTheOack) {
    struct Case {
        bool isRead;
        std::string options;  // as on the wire, "|" for a NUL
        const char* result;   // block size, time-out, file size, window, then the OACK
    };
    const Case cases[] = {
        {true, "blksize|1432|tsize|0|", "1432 5 5000000 1 blksize=1432,tsize=5000000,"},
        {true, "blksize|4|", "512 5 5000000 1 "},
        {true, "blksize|8|", "8 5 5000000 1 blksize=8,"},
        {true, "blksize|-1|", "16384 5 5000000 1 blksize=16384,"},  // the largest we take
        {true, "BLKSIZE|65464|", "16384 5 5000000 1 BLKSIZE=16384,"},
        {true, "timeout|0|", "512 5 5000000 1 "},
        {true, "timeout|1|", "512 1 5000000 1 timeout=1,"},
        {true, "timeout|300|", "512 5 5000000 1 "},
        {true, "Timeout|010|", "512 10 5000000 1 Timeout=010,"},  // echoed as written
        {true, "multicast||", "512 5 5000000 1 "},
        {false, "tsize|777|", "512 5 777 1 tsize=777,"},
        {true, "blksize|1024|blksize|2048|tsize|0|tsize|0|",
         "1024 5 5000000 1 blksize=1024,tsize=5000000,"},
        {true, "windowsize|16|", "512 5 5000000 16 windowsize=16,"},
        {false, "WindowSize|65535|", "512 5 5000000 64 WindowSize=64,"},  // at most the largest
        {true, "windowsize|1|", "512 5 5000000 1 windowsize=1,"},
        {true, "windowsize|0|", "512 5 5000000 1 "},
        {true, "windowsize|65536|", "512 5 5000000 1 "},
        {true, "windowsize|-1|", "512 5 5000000 1 "},  // not wrapped to a huge window
        {true, "windowsize|16x|", "512 5 5000000 1 "},
    };
    for (const Case& c : cases) {
        TftpNegotiation n;
        n.timeoutSeconds = 5;
        n.fileSize = 5000000;
        const std::vector<uint8_t> wire = Wire("|\1f|octet|" + c.options);
        NegotiateTftpOptions(SplitTftpRequest(wire.data(), wire.size()).options, c.isRead, &n);
        EXPECT_EQ(std::to_string(n.blockSize) + " " + std::to_string(n.timeoutSeconds) + " " +
                      std::to_string(n.fileSize) + " " + std::to_string(n.windowSize) + " " +
                      PrintableOack(n.options.data(), n.optionLength),
                  c.result)
            << c.options;
    }
    TftpNegotiation n;
    NegotiateTftpOptions({{"timeout", "5"}, {"tsize", std::string(490, '7')}, {"blksize", "99999"}},
                         false, &n);
    EXPECT_LE(n.optionLength, n.options.size());
    EXPECT_EQ(n.blockSize, 512u);  // no room left for blksize: not acknowledged, not used
}

}  // namespace
}  // namespace orvane
