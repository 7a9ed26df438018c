#include "tftp/tftp_decode.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tftp/tftp_fixture.h"

namespace orvane {
namespace {

using test::Wire;  // "|" for a NUL

// Catches a request the checks of its bytes let through (a climb out of the root, a percent
// sign, control bytes in an upload's name, a temporary file's name, an upload while uploads are
// off, an over-long name under the root), the wrong ERROR code or text, a name not taken under
// the root, and a read's tsize not answered with its file's size.
TEST(TftpDecodeTest, RequestsAreRefusedOrTakenUnderTheRoot) {
    TftpSettings uploads;
    uploads.root = "/srv/fw";
    uploads.writeAllowed = true;
    TftpSettings noUploads = uploads;
    noUploads.writeAllowed = false;
    const std::string longName(300, 'n');
    struct Case {
        std::string wire;
        const TftpSettings& settings;
        std::string decided;  // the ERROR sent, or opcode, full name, mode and the OACK
    };
    const Case cases[] = {
        {"|\1sub\\x.bin|octet|", uploads, "1 /srv/fw/sub/x.bin 0 "},
        {"|\1/x.bin|NETASCII|tsize|0|", noUploads, "1 /srv/fw/x.bin 1 tsize=3000,"},
        {"|\2with space.bin|mail|tsize|77|", uploads, "2 /srv/fw/with space.bin 2 tsize=77,"},
        {"|\2up.bin|octet|", noUploads, "ERROR 2 Access violation"},
        {"|\1../f.bin|octet|", uploads, "ERROR 2 Access violation"},
        {"|\1a//f.bin|octet|", uploads, "ERROR 2 Access violation"},
        {"|\1a%b.bin|octet|", uploads, "ERROR 2 Access violation"},
        {"|\1.upload-12.part|octet|", uploads, "ERROR 2 Access violation"},
        {"|\2sub/.UPLOAD-12.part|octet|", uploads, "ERROR 2 Access violation"},
        {"|\2esc\x1b[2J.bin|octet|", uploads, "ERROR 2 Access violation"},
        {"|\2del\x7f.bin|octet|", uploads, "ERROR 2 Access violation"},
        {"|\1esc\x1b.bin|octet|", uploads, "1 /srv/fw/esc\x1b.bin 0 "},  // a read names no file
        {"|\1" + longName + "|octet|", uploads, "ERROR 4 Illegal TFTP operation"},
        // 260 characters under the root: one too many
        {"|\1" + longName.substr(0, 252) + "|octet|", uploads, "ERROR 4 Illegal TFTP operation"},
        {"|\3|\1abc", uploads, "ERROR 4 Illegal TFTP operation"},
        {"|\3a%b.bin|octet|", noUploads, "ERROR 4 Illegal TFTP operation"},  // the first wins
        {"|\11x.bin|octet|", uploads, "ERROR 4 Illegal TFTP operation"},
        {"|\1f.bin|image|", uploads, "ERROR 4 Illegal TFTP operation"},
        {"|\1f.bin", uploads, "ERROR 4 Illegal TFTP operation"},
        {"", uploads, "ERROR 4 Illegal TFTP operation"},
    };
    for (const Case& c : cases) {
        const std::vector<uint8_t> bytes = Wire(c.wire);
        const TftpDecodedRequest r = DecodeTftpRequest(bytes.data(), bytes.size(), c.settings);
        std::string got = "ERROR " + std::to_string(r.refusal.code) + " " + r.refusal.text;
        if (!r.refused) {
            const TftpNegotiation n = NegotiateTftpRequest(r, 3000, 5, 64);
            got = std::to_string(r.opcode) + " " + r.fullName + " " + std::to_string(r.mode) + " " +
                  PrintableOack(n.options.data(), n.optionLength);
        }
        EXPECT_EQ(got, c.decided) << c.wire;
    }
}

}  // namespace
}  // namespace orvane
