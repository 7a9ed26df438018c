#include "tools/devsim/tftp_fetch.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
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

std::string Data(uint16_t block, const std::string& bytes) {
    return U16(kTftpData) + U16(block) + bytes;
}

uint16_t Opcode(const std::string& p) {
    return p.size() < 2 ? 0 : static_cast<uint16_t>((uint8_t(p[0]) << 8) | uint8_t(p[1]));
}

uint16_t Block(const std::string& p) {
    return p.size() < 4 ? 0 : static_cast<uint16_t>((uint8_t(p[2]) << 8) | uint8_t(p[3]));
}

// One packet from the socket within timeoutMs; empty on silence.
std::string Receive(UdpSocket& s, Endpoint* from, int timeoutMs = kServerWaitMs) {
    char buf[70000];
    if (s.WaitReadable(timeoutMs) != 1) {
        return std::string();
    }
    long n = s.ReceiveFrom(buf, sizeof buf, from);
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

// A TFTP server played by the test on 127.0.0.1: its listening socket takes the RRQ, the
// script answers from a transfer socket of its own, like a real server's TID.
class ScriptedServer {
  public:
    using Script = std::function<void(UdpSocket& transfer, const Endpoint& client)>;

    explicit ScriptedServer(Script script) {
        EXPECT_TRUE(m_listen.Open() && m_listen.Bind(Endpoint{0x7F000001, 0}));
        m_listen.LocalEndpoint(&m_endpoint);
        m_thread = std::thread([this, script] {
            Endpoint client;
            m_szRequest = Receive(m_listen, &client);
            UdpSocket transfer;
            if (!m_szRequest.empty() && transfer.Open() && transfer.Bind(Endpoint{0x7F000001, 0})) {
                script(transfer, client);
            }
        });
    }
    ~ScriptedServer() { m_thread.join(); }

    const Endpoint& Address() const { return m_endpoint; }

  private:
    UdpSocket m_listen;
    Endpoint m_endpoint;
    std::string m_szRequest;
    std::thread m_thread;
};

// Sends `content` stop-and-wait from block `first` on; `skipAck` names ACKs the server
// pretends to have lost (it then waits for the client's own resend).
void ServeFile(UdpSocket& s, const Endpoint& client, const std::string& content, size_t blk,
               std::map<uint16_t, int> skipAck = {}) {
    for (size_t offset = 0, block = 1;; offset += blk, ++block) {
        const uint16_t b = static_cast<uint16_t>(block);
        std::string chunk = content.substr(std::min(offset, content.size()), blk);
        s.SendTo(Data(b, chunk).data(), chunk.size() + 4, client);
        for (;;) {
            std::string ack = Receive(s, nullptr);
            if (ack.empty()) {
                return;
            }
            if (Opcode(ack) == kTftpAck && Block(ack) == b && skipAck[b]-- <= 0) {
                break;
            }
        }
        if (chunk.size() < blk) {
            return;
        }
    }
}

struct Fetched {
    TftpFetchResult result;
    std::string bytes;
};

Fetched Fetch(const Endpoint& server, TftpFetchOptions options) {
    Fetched f;
    f.result = TftpFetch(server, "fw.bin", options,
                         [&f](uint64_t offset, const char* data, size_t len, std::string*) {
                             EXPECT_EQ(offset, f.bytes.size());
                             f.bytes.append(data, len);
                             return true;
                         });
    return f;
}

TftpFetchOptions Quick(unsigned blksize) {
    TftpFetchOptions o;
    o.uBlksize = blksize;
    o.iTimeoutMs = 200;
    return o;
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
        std::map<uint16_t, int> skipAck;
        unsigned resends;  // at least: each lost ACK must have been sent again
    } cases[] = {
        {2000, 512, {{2, 1}}, 1},   // the server "loses" ACK 2 once
        {1024, 512, {{1, 2}}, 2},   // ACK 1 twice; the empty last block ends the file
        {65537 * 8 + 3, 8, {}, 0},  // 65538 blocks: numbers wrap to 0 and go on
    };
    for (const Case& c : cases) {
        std::string content(c.size, '\0');
        for (size_t i = 0; i < content.size(); ++i) {
            content[i] = static_cast<char>(i * 131 + i / 8);
        }
        ScriptedServer server([&](UdpSocket& s, const Endpoint& client) {
            if (c.blk != 512) {
                std::string oack = U16(kTftpOack) + "blksize" + '\0' + std::to_string(c.blk) + '\0';
                s.SendTo(oack.data(), oack.size(), client);
                if (Block(Receive(s, nullptr)) != 0) {
                    return;
                }
            }
            ServeFile(s, client, content, c.blk, c.skipAck);
        });
        Fetched f = Fetch(server.Address(), Quick(c.blk == 512 ? 0 : c.blk));
        EXPECT_TRUE(f.result.bOk) << f.result.szError;
        EXPECT_EQ(f.bytes, content);
        EXPECT_GE(f.result.uResends, c.resends);  // a slow moment may add one
        EXPECT_EQ(f.result.uBlksize, c.blk);
    }
}

}  // namespace
}  // namespace orvane::devsim
