// orvane-devsim's TFTP client, as far as the product's tests rely on it: the OACK checks, a
// resent ACK and block numbers past 65535.
#include "tools/devsim/tftp_fetch.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

namespace orvane::devsim {
namespace {

using platform::Endpoint;
using platform::UdpSocket;

std::string U16(uint16_t v) {
    return std::string{static_cast<char>(v >> 8), static_cast<char>(v & 0xFF)};
}

// One packet within 10 s (only a failing test waits it out); empty on silence.
std::string Receive(UdpSocket& s, Endpoint* from) {
    char buf[2048];
    long n = s.WaitReadable(10000) == 1 ? s.ReceiveFrom(buf, sizeof buf, from) : 0;
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

// Serves `content` in `blk`-byte blocks from a socket of its own (a real server's TID), after
// an OACK granting `blk`; the ACK of block number `lose` is taken as lost once.
void Serve(UdpSocket& listen, const std::string& content, unsigned blk, uint16_t lose) {
    Endpoint client;
    UdpSocket s;
    if (Receive(listen, &client).empty() || !s.Open() || !s.Bind(Endpoint{0x7F000001, 0})) {
        return;
    }
    std::string packet = U16(kTftpOack) + "blksize" + '\0' + std::to_string(blk) + '\0';
    for (size_t offset = 0, block = 0;; offset += blk, ++block) {
        const uint16_t b = static_cast<uint16_t>(block);
        s.SendTo(packet.data(), packet.size(), client);
        for (int seen = 0; seen < (block > 0 && b == lose ? 2 : 1);) {
            const std::string ack = Receive(s, nullptr);
            if (ack.empty()) {
                return;
            }
            seen += ack == U16(kTftpAck) + U16(b);
        }
        if (block > 0 && packet.size() < blk + 4) {
            return;
        }
        packet = U16(kTftpData) + U16(b + 1) + content.substr(offset, blk);
    }
}

// Option list of an OACK: each name and value followed by its NUL.
std::string Options(std::initializer_list<std::string> words) {
    std::string out;
    for (const std::string& w : words) {
        out += w + '\0';
    }
    return out;
}

// Catches an OACK accepted with a block size or a window the client cannot take, a time-out it
// did not ask, an option it never asked for, or an unterminated list, and names compared with their
// case.
TEST(CheckOackTest, AcceptsOnlyWhatWasAsked) {
    TftpFetchOptions asked;
    asked.uBlksize = 1468;
    asked.bTsize = true;
    asked.uAskTimeout = 1;
    asked.uWindowsize = 16;
    TftpFetchOptions blksizeOnly;
    struct Case {
        std::string options;
        const TftpFetchOptions& asked;
        unsigned blksize;  // 0: refused
    } cases[] = {
        {Options({"blksize", "1468"}), asked, 1468},
        {Options({"BlkSize", "1024", "tsize", "777"}), asked, 1024},  // smaller is the server's
        {"", asked, 512},                                             // an empty OACK
        {Options({"blksize", "1469"}), asked, 0},                     // larger than asked
        {Options({"blksize", "7"}), asked, 0},
        {Options({"blksize", ""}), asked, 0},
        {Options({"timeout", "1"}), asked, 512},
        {Options({"timeout", "5"}), asked, 0},  // taken or left, never changed
        {Options({"tsize", "12x"}), asked, 0},
        {Options({"blksize"}) + "1468", asked, 0},  // value without its NUL
        {Options({"tsize", "5"}), blksizeOnly, 0},  // never asked
        {Options({"timeout", "1"}), blksizeOnly, 0},
        {Options({"windowsize", "8"}), asked, 512},  // a smaller window is the server's
        {Options({"windowsize", "17"}), asked, 0},
        {Options({"windowsize", "0"}), asked, 0},
        {Options({"windowsize", "4"}), blksizeOnly, 0},
    };
    for (const Case& c : cases) {
        TftpNegotiated n;
        std::string why = CheckOack(c.options.data(), c.options.size(), c.asked, &n);
        EXPECT_EQ(why.empty(), c.blksize != 0) << why;
        EXPECT_EQ(c.blksize ? n.uBlksize : 0, c.blksize);
    }
}

// Catches a client that cannot follow block numbers past 65535, or does not resend its ACK when
// the next DATA never comes: 65538 blocks of 8 bytes, the ACK of block 0 (65536) lost once.
TEST(TftpFetchTest, ResendsLostAcksAndFollowsBlockNumbersPastTheWrap) {
    std::string content(65537 * 8 + 3, '\0');
    for (size_t i = 0; i < content.size(); ++i) {
        content[i] = static_cast<char>(i * 131 + i / 8);
    }
    UdpSocket listen;
    Endpoint server;
    ASSERT_TRUE(listen.Open() && listen.Bind(Endpoint{0x7F000001, 0}) &&
                listen.LocalEndpoint(&server));
    std::thread script([&] { Serve(listen, content, 8, 0); });
    TftpFetchOptions o;
    o.uBlksize = 8;
    o.iTimeoutMs = 200;
    std::string bytes;
    TftpFetchResult r =
        TftpFetch(server, "fw.bin", o, [&bytes](uint64_t, const char* d, size_t n, std::string*) {
            bytes.append(d, n);
            return true;
        });
    script.join();
    EXPECT_TRUE(r.bOk) << r.szError;
    EXPECT_TRUE(bytes == content);
    EXPECT_GE(r.uResends, 1u);
    EXPECT_EQ(r.uBlksize, 8u);
}

}  // namespace
}  // namespace orvane::devsim
