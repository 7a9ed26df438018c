// orvane-devsim's TFTP client, as far as the product's tests rely on it: it holds a server to
// the options it asked, resends a lost ACK and follows block numbers past 65535.
#include "tools/devsim/tftp_fetch.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

namespace orvane::devsim {
namespace {

using platform::Endpoint;
using platform::UdpSocket;

// A scripted server gives up on a silent client after this; only a failing test waits it out,
// and a loaded machine may stall a passing one for seconds.
constexpr int kServerWaitMs = 10000;

std::string U16(uint16_t v) {
    return std::string{static_cast<char>(v >> 8), static_cast<char>(v & 0xFF)};
}

// Opcode and block number of a packet from the client, 0 for what is too short.
uint32_t Head(const std::string& p) {
    return p.size() < 4 ? 0
                        : (uint32_t{uint8_t(p[0])} << 24) | (uint8_t(p[1]) << 16) |
                              (uint8_t(p[2]) << 8) | uint8_t(p[3]);
}

// One packet from the socket within kServerWaitMs; empty on silence.
std::string Receive(UdpSocket& s, Endpoint* from) {
    char buf[2048];
    long n = s.WaitReadable(kServerWaitMs) == 1 ? s.ReceiveFrom(buf, sizeof buf, from) : 0;
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

// Serves `content` in `blk`-byte blocks from a transfer socket of its own (a real server's
// TID), with an OACK first when `blk` is not 512; the ACK of block `lose` is taken as lost
// once, so the client must send it again.
void Serve(UdpSocket& listen, const std::string& content, unsigned blk, uint16_t lose) {
    Endpoint client;
    UdpSocket s;
    if (Receive(listen, &client).empty() || !s.Open() || !s.Bind(Endpoint{0x7F000001, 0})) {
        return;
    }
    if (blk != 512) {
        const std::string oack = U16(kTftpOack) + "blksize" + '\0' + std::to_string(blk) + '\0';
        s.SendTo(oack.data(), oack.size(), client);
        if (Head(Receive(s, nullptr)) != (uint32_t{kTftpAck} << 16)) {
            return;
        }
    }
    for (size_t offset = 0, block = 1;; offset += blk, ++block) {
        const uint16_t b = static_cast<uint16_t>(block);
        const std::string data = U16(kTftpData) + U16(b) + content.substr(offset, blk);
        s.SendTo(data.data(), data.size(), client);
        for (int seen = 0; seen < (b == lose ? 2 : 1);) {
            const std::string ack = Receive(s, nullptr);
            if (ack.empty()) {
                return;
            }
            seen += Head(ack) == ((uint32_t{kTftpAck} << 16) | b);
        }
        if (data.size() < blk + 4) {
            return;
        }
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

// Catches an OACK accepted with a block size the client cannot take, a time-out it did not
// ask, an option it never asked for, or an unterminated list, and names compared with their
// case.
TEST(CheckOackTest, AcceptsOnlyWhatWasAsked) {
    TftpFetchOptions asked;
    asked.uBlksize = 1468;
    asked.bTsize = true;
    asked.uAskTimeout = 1;
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
    };
    for (const Case& c : cases) {
        TftpNegotiated n;
        std::string why = CheckOack(c.options.data(), c.options.size(), c.asked, &n);
        EXPECT_EQ(why.empty(), c.blksize != 0) << why;
        EXPECT_EQ(c.blksize ? n.uBlksize : 0, c.blksize);
    }
}

// Catches a client that does not resend its ACK when the next DATA never comes, or cannot
// follow block numbers past 65535.
TEST(TftpFetchTest, ResendsLostAcksAndFollowsBlockNumbersPastTheWrap) {
    struct Case {
        size_t size;
        unsigned blk;  // 512: no options asked; otherwise asked and granted in an OACK
        uint16_t lose;
    } cases[] = {
        {2000, 512, 2},         // the server "loses" ACK 2 once
        {65537 * 8 + 3, 8, 0},  // 65538 blocks: numbers wrap to 0 and go on
    };
    for (const Case& c : cases) {
        std::string content(c.size, '\0');
        for (size_t i = 0; i < content.size(); ++i) {
            content[i] = static_cast<char>(i * 131 + i / 8);
        }
        UdpSocket listen;
        Endpoint server;
        ASSERT_TRUE(listen.Open() && listen.Bind(Endpoint{0x7F000001, 0}) &&
                    listen.LocalEndpoint(&server));
        std::thread script([&] { Serve(listen, content, c.blk, c.lose); });
        TftpFetchOptions o;
        o.uBlksize = c.blk == 512 ? 0 : c.blk;
        o.iTimeoutMs = 200;
        std::string bytes;
        TftpFetchResult r = TftpFetch(server, "fw.bin", o,
                                      [&bytes](uint64_t, const char* d, size_t n, std::string*) {
                                          bytes.append(d, n);
                                          return true;
                                      });
        script.join();
        EXPECT_TRUE(r.bOk) << r.szError;
        EXPECT_TRUE(bytes == content);
        EXPECT_GE(r.uResends, c.lose ? 1u : 0u);  // a slow moment may add one
        EXPECT_EQ(r.uBlksize, c.blk);
    }
}

}  // namespace
}  // namespace orvane::devsim
