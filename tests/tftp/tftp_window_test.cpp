#include <gtest/gtest.h>

#include <set>
#include <string>

#include "tftp/tftp_fixture.h"

namespace orvane::test {
namespace {

struct Fetched {
    std::string content;
    int data = 0;  // DATA packets that came
    bool ok = false;
};

// A windowed read as RFC 7440's receiver: the ACK of each window's last block, of the file's
// last, or (once) of the last block before a gap. Blocks in `lose` are dropped the first time.
Fetched FetchWindowed(TftpTestClient& c, const std::string& name, uint32_t blockSize,
                      uint32_t window, std::set<int> lose, bool ackTwice) {
    Fetched f;
    c.SendRequest("|\1" + name + "|octet|blksize|" + std::to_string(blockSize) + "|windowsize|" +
                  std::to_string(window) + "|");
    if (c.Next() != "OACK blksize=" + std::to_string(blockSize) +
                        ",windowsize=" + std::to_string(window) + ",") {
        return f;
    }
    c.SendAck(0);
    uint16_t expected = 1;
    uint32_t taken = 0;  // in order since the last ACK
    bool gapAcked = false;
    // Bounded: every file here has far fewer blocks.
    for (int packets = 0; packets < 10000; ++packets) {
        const std::string head = c.Next(3000);
        if (head.rfind("DATA ", 0) != 0) {
            return f;
        }
        ++f.data;
        const auto block = static_cast<uint16_t>(std::stoi(head.substr(5)));
        if (lose.erase(block) > 0) {
            continue;
        }
        if (block != expected) {
            // A block before the awaited one answers a lost ACK only when nothing came since.
            const bool old = static_cast<uint16_t>(expected - block) < 0x8000;
            if (!gapAcked && (!old || taken == 0)) {
                c.SendAck(static_cast<uint16_t>(expected - 1));
                gapAcked = true;
                taken = 0;
            }
            continue;
        }
        f.content += c.Payload();
        ++expected;
        gapAcked = false;
        const bool last = c.Payload().size() < blockSize;
        if (++taken == window || last) {
            c.SendAck(block);
            if (ackTwice) {
                c.SendAck(block);  // a repeat must bring no copy
            }
            taken = 0;
        }
        if (last) {
            f.ok = true;
            return f;
        }
    }
    return f;
}

// Catches windowed reads that cut or corrupt a file at a window or block boundary, answer a
// repeated ACK with copies, or recover from a loss with more than a window again (or never).
TEST_F(TftpServiceTest, WindowedReadsDeliverEveryFileThroughLossAndRepeats) {
    ShortSeconds();
    const struct {
        size_t size;
        uint32_t window;
        std::set<int> lose;
        bool ackTwice;
        int extraData;  // DATA beyond the blocks, at most
    } cases[] = {
        {0, 4, {}, false, 0},
        {511, 4, {}, false, 0},
        {512, 4, {}, false, 0},
        {16 * 512, 16, {}, true, 0},  // a multiple of the window: its last block is empty
        {100000, 64, {}, true, 0},
        {48 * 512 + 7, 16, {}, false, 0},
        {64 * 512, 16, {21}, false, 16},  // mid-window: the window again from block 21
        {64 * 512, 16, {32}, false, 16},  // a window's last block: only a time-out tells
        {64 * 512, 16, {49, 50}, true, 16},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.size) + " window " + std::to_string(c.window));
        const std::string content = Pattern(c.size, static_cast<unsigned>(c.size));
        m_root.Write("w.bin", content);
        TftpTestClient client;
        const Fetched f = FetchWindowed(client, "w.bin", 512, c.window, c.lose, c.ackTwice);
        EXPECT_TRUE(f.ok);
        EXPECT_TRUE(f.content == content);
        EXPECT_GE(f.data, static_cast<int>(c.size / 512 + 1));
        EXPECT_LE(f.data, static_cast<int>(c.size / 512 + 1) + c.extraData);
        EXPECT_EQ(client.Next(100), "");  // nothing after the last ACK
    }
}

// Catches a windowed upload acknowledged block by block (the sender then starts its window
// again for every ACK) or once per block behind a gap, and one that loses the block after it.
TEST_F(TftpServiceTest, WindowedUploadIsAcknowledgedOncePerWindowAndOncePerGap) {
    const std::string content = Pattern(20 * 512 + 100, 3);
    TftpTestClient c;
    c.SendRequest("|\2up.bin|octet|timeout|1|windowsize|8|");  // its ACKs resent after 1 s
    ASSERT_EQ(c.Next(), "OACK timeout=1,windowsize=8,");
    std::string acks;
    bool lost = false;
    bool repeated = false;
    for (int next = 1, windows = 0; next <= 21 && windows < 10; ++windows) {
        for (int b = next; b < next + 8 && b <= 21; ++b) {
            if (b == 3 && !lost) {
                lost = true;  // block 3 of the first window never arrives
                continue;
            }
            c.SendData(static_cast<uint16_t>(b), content.substr((b - 1) * 512, 512));
            if (b == 12 && !repeated) {
                // A copy while its window still comes: the sender went on, so no ACK of it.
                repeated = true;
                c.SendData(12, content.substr(11 * 512, 512));
            }
        }
        for (std::string head = c.Next(); !head.empty(); head = c.Next(150)) {
            acks += head + ",";
            next = std::stoi(head.substr(4)) + 1;
        }
    }
    EXPECT_EQ(acks, "ACK 2,ACK 10,ACK 18,ACK 21,");
    EXPECT_TRUE(ReadWholeFile(m_root.File("up.bin")) == content);
}

}  // namespace
}  // namespace orvane::test
