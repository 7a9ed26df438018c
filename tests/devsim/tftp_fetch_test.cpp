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

constexpr int kServerWaitMs = 2000;  // a scripted server gives up on a silent client after this

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
    using Script =
        std::function<void(UdpSocket& transfer, UdpSocket& listen, const Endpoint& client)>;

    explicit ScriptedServer(Script script) {
        EXPECT_TRUE(m_listen.Open() && m_listen.Bind(Endpoint{0x7F000001, 0}));
        m_listen.LocalEndpoint(&m_endpoint);
        m_thread = std::thread([this, script] {
            Endpoint client;
            m_szRequest = Receive(m_listen, &client);
            UdpSocket transfer;
            if (!m_szRequest.empty() && transfer.Open() && transfer.Bind(Endpoint{0x7F000001, 0})) {
                script(transfer, m_listen, client);
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
    int iSinkCalls = 0;
};

Fetched Fetch(const Endpoint& server, TftpFetchOptions options) {
    Fetched f;
    f.result = TftpFetch(server, "fw.bin", options,
                         [&f](uint64_t offset, const char* data, size_t len, std::string*) {
                             EXPECT_EQ(offset, f.bytes.size());
                             f.bytes.append(data, len);
                             ++f.iSinkCalls;
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

// Catches an OACK accepted with a block size the client cannot take, a time-out it did not
// ask, an option it never asked for, or an unterminated list, and names compared with their
// case.
TEST(CheckOackTest, AcceptsOnlyWhatWasAsked) {
    using namespace std::string_literals;
    TftpFetchOptions asked;
    asked.uBlksize = 1468;
    asked.bTsize = true;
    asked.uAskTimeout = 1;
    struct Case {
        std::string options;
        bool ok;
        unsigned blksize;
    } cases[] = {
        {"blksize\0"s
         "1468\0"s,
         true, 1468},
        {"BlkSize\0"s
         "1024\0"s
         "tsize\0"s
         "777\0"s,
         true, 1024},      // smaller is the server's right
        {""s, true, 512},  // an empty OACK changes nothing
        {"blksize\0"s
         "1469\0"s,
         false, 0},  // larger than asked
        {"blksize\0"s
         "7\0"s,
         false, 0},
        {"blksize\0"s
         "-1\0"s,
         false, 0},
        {"blksize\0"s
         "\0"s,
         false, 0},
        {"timeout\0"s
         "1\0"s,
         true, 512},
        {"timeout\0"s
         "5\0"s,
         false, 0},  // a server may take the time-out or leave it, never change it
        {"tsize\0"s
         "12x\0"s,
         false, 0},
        {"blksize\0"s
         "1468"s,
         false, 0},  // value without its NUL
        {"blksize"s, false, 0},
    };
    for (const Case& c : cases) {
        TftpNegotiated n;
        std::string why = CheckOack(c.options.data(), c.options.size(), asked, &n);
        EXPECT_EQ(why.empty(), c.ok) << why;
        if (c.ok) {
            EXPECT_EQ(n.uBlksize, c.blksize);
        }
    }
    TftpFetchOptions blksizeOnly;
    TftpNegotiated n;
    for (const std::string& notAsked : {"tsize\0"
                                        "5\0"s,
                                        "timeout\0"
                                        "1\0"s}) {
        EXPECT_FALSE(CheckOack(notAsked.data(), notAsked.size(), blksizeOnly, &n).empty())
            << notAsked;
    }
}

// Catches a client that waits forever for a silent server, or sends its request more or fewer
// times than its tries.
TEST(TftpFetchTest, SilentServerGetsTheRequestTriesTimesThenTheFetchFails) {
    UdpSocket server;
    Endpoint address;
    ASSERT_TRUE(server.Open() && server.Bind(Endpoint{0x7F000001, 0}) &&
                server.LocalEndpoint(&address));
    TftpFetchOptions o = Quick(1468);
    o.iTries = 3;
    Fetched f = Fetch(address, o);
    EXPECT_FALSE(f.result.bOk);
    EXPECT_EQ(f.result.uResends, 2u);
    int requests = 0;
    while (!Receive(server, nullptr, 0).empty()) {
        ++requests;
    }
    EXPECT_EQ(requests, 3);
}

// Catches a client that does not resend its ACK when the next DATA never comes, cannot
// follow block numbers past 65535, or loses its way when it holds each ACK back (a slow
// boot loader).
TEST(TftpFetchTest, ResendsLostAcksAndFollowsBlockNumbersPastTheWrap) {
    struct Case {
        size_t size;
        unsigned blk;  // 512: no options asked; otherwise asked and granted in an OACK
        std::map<uint16_t, int> skipAck;
        unsigned resends;  // at least: each lost ACK must have been sent again
        int ackDelayMs = 0;
    } cases[] = {
        {2000, 512, {{2, 1}}, 1},      // the server "loses" ACK 2 once
        {1024, 512, {{1, 2}}, 2},      // ACK 1 twice; the empty last block ends the file
        {65537 * 8 + 3, 8, {}, 0},     // 65538 blocks: numbers wrap to 0 and go on
        {2000, 1468, {{1, 1}}, 1, 5},  // each DATA acknowledged 5 ms late, ACK 1 "lost" once
    };
    for (const Case& c : cases) {
        std::string content(c.size, '\0');
        for (size_t i = 0; i < content.size(); ++i) {
            content[i] = static_cast<char>(i * 131 + i / 8);
        }
        ScriptedServer server([&](UdpSocket& s, UdpSocket&, const Endpoint& client) {
            if (c.blk != 512) {
                std::string oack = U16(kTftpOack) + "blksize" + '\0' + std::to_string(c.blk) + '\0';
                s.SendTo(oack.data(), oack.size(), client);
                if (Block(Receive(s, nullptr)) != 0) {
                    return;
                }
            }
            ServeFile(s, client, content, c.blk, c.skipAck);
        });
        TftpFetchOptions o = Quick(c.blk == 512 ? 0 : c.blk);
        o.iAckDelayMs = c.ackDelayMs;
        Fetched f = Fetch(server.Address(), o);
        EXPECT_TRUE(f.result.bOk) << f.result.szError;
        EXPECT_EQ(f.bytes, content);
        EXPECT_GE(f.result.uResends, c.resends);  // a slow moment may add one
        EXPECT_EQ(f.result.uBlksize, c.blk);
    }
}

// Catches a client that lets a packet from another port into its transfer, or hands a DATA
// block seen twice to its sink twice instead of acknowledging it again.
TEST(TftpFetchTest, ForeignPortGetsError5AndDuplicateDataIsAcknowledgedOnce) {
    const std::string first(512, 'a');
    std::string foreignAnswer;
    Fetched f;
    {
        ScriptedServer server([&](UdpSocket& s, UdpSocket& listen, const Endpoint& client) {
            const std::string data1 = Data(1, first);
            s.SendTo(data1.data(), data1.size(), client);
            Receive(s, nullptr);  // ACK 1
            s.SendTo(data1.data(), data1.size(), client);
            Receive(s, nullptr);  // ACK 1 again
            const std::string stray = Data(2, "XXXX");
            listen.SendTo(stray.data(), stray.size(), client);
            foreignAnswer = Receive(listen, nullptr);
            const std::string data2 = Data(2, "bbbb");
            s.SendTo(data2.data(), data2.size(), client);
            Receive(s, nullptr);
        });
        TftpFetchOptions o = Quick(0);
        o.iTimeoutMs = 1000;  // no resend is needed here: keep the clock out of the way
        f = Fetch(server.Address(), o);
    }  // the script has ended: its findings may be read
    EXPECT_TRUE(f.result.bOk) << f.result.szError;
    EXPECT_EQ(f.bytes, first + "bbbb");
    EXPECT_EQ(f.iSinkCalls, 2);
    EXPECT_EQ(f.result.uDupAcks, 1u);
    EXPECT_EQ(Opcode(foreignAnswer), kTftpError);
    EXPECT_EQ(Block(foreignAnswer), 5);  // the error code sits where a block number would
}

}  // namespace
}  // namespace orvane::devsim
