#include "tftp/tftp_decode.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tftp/tftp_fixture.h"

namespace orvane {
namespace {

using test::Wire;  // "|" for a NUL

// Catches a request let through that must be refused (out of the root, a percent sign, control
// bytes in an upload's name, a temporary file's name, uploads off, a full name of 260 or more),
// the wrong ERROR code or text, or a name not taken under the root.
TEST(TftpDecodeTest, RequestsAreRefusedOrTakenUnderTheRoot) {
    TftpSettings uploads;
    uploads.root = "/srv/fw";
    uploads.writeAllowed = true;
    TftpSettings noUploads = uploads;
    noUploads.writeAllowed = false;
    struct Case {
        std::string wire;
        const TftpSettings& settings;
        std::string decided;  // the ERROR sent, or opcode, full name and mode
    };
    const Case cases[] = {
        {"|\1sub\\x.bin|octet|", uploads, "1 /srv/fw/sub/x.bin 0"},
        {"|\1/x.bin|NETASCII|", noUploads, "1 /srv/fw/x.bin 1"},
        {"|\2with space.bin|mail|", uploads, "2 /srv/fw/with space.bin 2"},
        {"|\2up.bin|octet|", noUploads, "ERROR 2 Access violation"},
        {"|\1../f.bin|octet|", uploads, "ERROR 2 Access violation"},
        {"|\1a%b.bin|octet|", uploads, "ERROR 2 Access violation"},
        {"|\1.upload-12.part|octet|", uploads, "ERROR 2 Access violation"},
        {"|\2sub/.UPLOAD-12.part|octet|", uploads, "ERROR 2 Access violation"},
        {"|\2esc\x1b[2J.bin|octet|", uploads, "ERROR 2 Access violation"},
        {"|\2del\x7f.bin|octet|", uploads, "ERROR 2 Access violation"},
        {"|\1esc\x1b.bin|octet|", uploads, "1 /srv/fw/esc\x1b.bin 0"},  // a read names no file
        {"|\1" + std::string(300, 'n') + "|octet|", uploads, "ERROR 4 Illegal TFTP operation"},
        // 260 characters under the root: one too many
        {"|\1" + std::string(252, 'n') + "|octet|", uploads, "ERROR 4 Illegal TFTP operation"},
        {"|\3a%b.bin|octet|", noUploads, "ERROR 4 Illegal TFTP operation"},  // the first wins
        {"|\1f.bin|image|", uploads, "ERROR 4 Illegal TFTP operation"},
        {"", uploads, "ERROR 4 Illegal TFTP operation"},
    };
    for (const Case& c : cases) {
        const std::vector<uint8_t> bytes = Wire(c.wire);
        const TftpDecodedRequest r = DecodeTftpRequest(bytes.data(), bytes.size(), c.settings);
        EXPECT_EQ(r.refused
                      ? "ERROR " + std::to_string(r.refusal.code) + " " + r.refusal.text
                      : std::to_string(r.opcode) + " " + r.fullName + " " + std::to_string(r.mode),
                  c.decided)
            << c.wire;
    }
}

}  // namespace
}  // namespace orvane
