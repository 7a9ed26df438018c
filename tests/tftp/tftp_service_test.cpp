// The service's rules on the wire, driven by a hand-made client where no real client would
// produce the case.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "tftp/tftp_fixture.h"
#include "tftp/tftp_request.h"
#include "tftp/tftp_test_client.h"

namespace orvane::test {
namespace {

constexpr int kReplyMs = 5000;

std::vector<uint8_t> Bytes(const std::string& s) {
    return std::vector<uint8_t>(s.begin(), s.end());
}

// Catches a name check that serves what lies outside the root, or refuses what lies inside.
TEST_F(TftpServiceTest, NamesAreServedOnlyUnderTheRoot) {
    m_root.Write("x.bin", "inside");
    ASSERT_EQ(mkdir(m_root.File("sub").c_str(), 0755), 0);
    m_root.Write("sub/x.bin", "sub inside");
    TempDir outside;
    outside.Write("secret.bin", "outside");
    ASSERT_EQ(symlink(outside.File("secret.bin").c_str(), m_root.File("link.bin").c_str()), 0);
    ASSERT_EQ(symlink(outside.Path().c_str(), m_root.File("out").c_str()), 0);
    ASSERT_EQ(symlink(m_root.File("x.bin").c_str(), m_root.File("alias.bin").c_str()), 0);
    struct Case {
        std::string name;
        int error;  // 0: served
        std::string content;
    };
    const std::vector<Case> cases = {
        {"x.bin", 0, "inside"},
        {"/x.bin", 0, "inside"},
        {"sub/x.bin", 0, "sub inside"},
        {"sub\\x.bin", 0, "sub inside"},
        {"alias.bin", 0, "inside"},
        {"../x.bin", 2, ""},
        {"a//b.bin", 2, ""},
        {"a\\\\b.bin", 2, ""},
        {"a%b.bin", 2, ""},
        {"link.bin", 2, ""},
        {"out/secret.bin", 2, ""},
        {outside.File("secret.bin"), 1, ""},  // absolute: looked for under the root
        {"missing.bin", 1, ""},
        {"sub", 1, ""},  // a folder is no file
        {std::string(300, 'n'), 4, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TftpTestClient client;
        ASSERT_TRUE(client.SendRequest(TftpRequest(1, c.name)));
        if (c.error == 0) {
            std::string content;
            EXPECT_TRUE(client.Download(&content, 512));
            EXPECT_EQ(content, c.content);
        } else {
            TftpPacket p;
            ASSERT_TRUE(client.Receive(&p, kReplyMs));
            EXPECT_EQ(p.Opcode(), 5);
            EXPECT_EQ(p.ErrorCode(), c.error);
        }
    }
    // A write may not create a file through a link leading out of the root either.
    TftpTestClient writer;
    ASSERT_TRUE(writer.SendRequest(TftpRequest(2, "out/new.bin")));
    TftpPacket p;
    ASSERT_TRUE(writer.Receive(&p, kReplyMs));
    EXPECT_EQ(p.ErrorCode(), 2);
    EXPECT_NE(access(outside.File("new.bin").c_str(), F_OK), 0);
}

// Catches malformed requests that are served, or answered with the wrong error.
TEST_F(TftpServiceTest, MalformedRequestsGetIllegalOperation) {
    m_root.Write("x.bin", "x");
    const std::vector<std::pair<const char*, std::vector<uint8_t>>> cases = {
        {"DATA as request", Bytes(std::string("\0\3\0\1abc", 7))},
        {"unknown opcode", Bytes(std::string("\0\11x.bin\0octet\0", 15))},
        {"unknown mode", TftpRequest(1, "x.bin", "image")},
        {"no mode", Bytes(std::string("\0\1x.bin", 7))},
    };
    for (const auto& [what, request] : cases) {
        SCOPED_TRACE(what);
        TftpTestClient client;
        ASSERT_TRUE(client.SendRequest(request));
        TftpPacket p;
        ASSERT_TRUE(client.Receive(&p, kReplyMs));
        EXPECT_EQ(p.Opcode(), 5);
        EXPECT_EQ(p.ErrorCode(), 4);
    }
}

// Catches options answered wrongly on the wire: refused sizes echoed, bad time-outs taken,
// or an OACK sent when no option was accepted.
TEST_F(TftpServiceTest, OptionsAreAnsweredOnTheWire) {
    m_root.Write("f.bin", Pattern(3000));
    struct Case {
        TftpOptions options;
        std::string oack;  // empty: DATA 1 comes directly
        uint32_t blockSize;
    };
    // The negotiation's rules are tested on their own; here only how they show on the wire.
    const std::vector<Case> cases = {
        {{{"blksize", "1432"}, {"tsize", "0"}}, "blksize=1432,tsize=3000,", 1432},
        {{{"blksize", "4"}}, "", 512},
        {{{"timeout", "10"}, {"blksize", "1024"}}, "timeout=10,blksize=1024,", 1024},
        {{{"multicast", ""}}, "", 512},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.oack);
        TftpTestClient client;
        ASSERT_TRUE(client.SendRequest(TftpRequest(1, "f.bin", "octet", c.options)));
        TftpPacket first;
        ASSERT_TRUE(client.Receive(&first, kReplyMs));
        if (c.oack.empty()) {
            EXPECT_EQ(first.Opcode(), 3);
            EXPECT_EQ(first.Block(), 1);
            EXPECT_EQ(first.DataLength(), 512u);
            client.SendError(0, "done");
            continue;
        }
        ASSERT_EQ(first.Opcode(), 6);
        EXPECT_EQ(first.Text(), c.oack);
        client.SendAck(0);
        TftpPacket data;
        ASSERT_TRUE(client.Receive(&data, kReplyMs));
        EXPECT_EQ(data.Opcode(), 3);
        EXPECT_EQ(data.Block(), 1);
        EXPECT_EQ(data.DataLength(), std::min<uint32_t>(c.blockSize, 3000));
        client.SendError(0, "done");
    }
}

// Catches a lost OACK or a late ACK 0 leading to a DATA block 0 (which the file does not
// have) instead of the OACK being sent again.
TEST_F(TftpServiceTest, LostOackIsSentAgain) {
    const std::string content = Pattern(1500);
    m_root.Write("f.bin", content);
    TftpTestClient client;
    // timeout 1: the first wait is (1 + 3) / 4 = 1 s.
    ASSERT_TRUE(client.SendRequest(
        TftpRequest(1, "f.bin", "octet", {{"blksize", "1024"}, {"timeout", "1"}})));
    TftpPacket first;
    ASSERT_TRUE(client.Receive(&first, kReplyMs));
    ASSERT_EQ(first.Opcode(), 6);  // treated as lost: not acknowledged
    TftpPacket again;
    ASSERT_TRUE(client.Receive(&again, kReplyMs));
    EXPECT_EQ(again.Opcode(), 6);
    EXPECT_EQ(again.Text(), first.Text());
    client.SendAck(0);  // late: both OACKs now acknowledged
    client.SendAck(0);
    std::string received;
    EXPECT_TRUE(client.Download(&received, 1024));
    EXPECT_EQ(received, content);
    EXPECT_EQ(Count(Log(), "Ack of block #0"), 0u);
}

// Catches a write whose OACK was lost being answered with ACK 0, which tells the client its
// options were refused: it then sends 512-byte blocks that the negotiated size takes for the
// last one, and a cut file is reported as received.
TEST_F(TftpServiceTest, LostOackOfAWriteIsSentAgain) {
    const std::string content = Pattern(1500, 9);
    TftpTestClient writer;
    // timeout 1: the first wait is (1 + 3) / 4 = 1 s.
    ASSERT_TRUE(writer.SendRequest(
        TftpRequest(2, "up.bin", "octet", {{"blksize", "1024"}, {"timeout", "1"}})));
    TftpPacket first;
    ASSERT_TRUE(writer.Receive(&first, kReplyMs));
    ASSERT_EQ(first.Opcode(), 6);  // treated as lost: no DATA follows
    TftpPacket again;
    ASSERT_TRUE(writer.Receive(&again, kReplyMs));
    EXPECT_EQ(again.Opcode(), 6);
    EXPECT_EQ(again.Text(), first.Text());
    ASSERT_TRUE(writer.SendData(1, Bytes(content.substr(0, 1024))));
    TftpPacket p;
    // Bounded: skips at most a few more copies of the OACK sent before DATA 1 arrived.
    for (int i = 0; i < 4 && p.Opcode() != 4; ++i) {
        ASSERT_TRUE(writer.Receive(&p, kReplyMs));
    }
    ASSERT_EQ(p.Opcode(), 4);
    EXPECT_EQ(p.Block(), 1);
    ASSERT_TRUE(writer.SendData(2, Bytes(content.substr(1024))));
    ASSERT_TRUE(WaitLog("<up.bin>: rcvd 2 blks, 1500 bytes"));
    EXPECT_EQ(ReadWholeFile(m_root.File("up.bin")), content);
}

// Catches a lost DATA never resent while the client repeats its last ACK on its own clock (as
// busybox and atftp do): each repeat restarted the server's wait, and the client gave up.
TEST_F(TftpServiceTest, RepeatedAckDoesNotHoldOffTheResend) {
    m_root.Write("r.bin", Pattern(1500, 4));
    TftpTestClient client;
    // timeout 1: the first wait is (1 + 3) / 4 = 1 s.
    ASSERT_TRUE(client.SendRequest(TftpRequest(1, "r.bin", "octet", {{"timeout", "1"}})));
    TftpPacket p;
    ASSERT_TRUE(client.Receive(&p, kReplyMs));
    ASSERT_EQ(p.Opcode(), 6);
    client.SendAck(0);
    ASSERT_TRUE(client.Receive(&p, kReplyMs));
    ASSERT_EQ(p.Block(), 1);
    client.SendAck(1);
    ASSERT_TRUE(client.Receive(&p, kReplyMs));  // DATA 2, taken as lost
    ASSERT_EQ(p.Block(), 2);
    bool resent = false;
    // Bounded: ACK 1 again every 250 ms for 2.5 s.
    for (int i = 0; i < 10 && !resent; ++i) {
        client.SendAck(1);
        resent = client.Receive(&p, 250) && p.Opcode() == 3 && p.Block() == 2;
    }
    ASSERT_TRUE(resent);
    client.SendAck(2);
    // Bounded: skips a copy of DATA 2 that an ACK 1 crossing the resend may have brought.
    for (int i = 0; i < 3 && (i == 0 || p.Block() == 2); ++i) {
        ASSERT_TRUE(client.Receive(&p, kReplyMs));
    }
    EXPECT_EQ(p.Block(), 3);
    EXPECT_EQ(p.DataLength(), 1500u - 1024u);
    client.SendAck(3);
    EXPECT_TRUE(WaitLog("<r.bin>: sent 3 blks, 1500 bytes"));
    // Resent on its time-out; the repeats themselves were ignored, not answered.
    EXPECT_EQ(Count(Log(), "timeout while waiting for ack blk #2"), 1u);
    EXPECT_GE(Count(Log(), "Ack block 1 ignored (received twice)"), 1u);
}

// Catches block numbers that stop, or restart the file, when they roll over past 65535.
TEST_F(TftpServiceTest, BlockNumbersRollOverInLongTransfers) {
    const std::string content = Pattern(65536 * 8 + 20, 65);
    m_root.Write("long.bin", content);
    TftpTestClient client;
    ASSERT_TRUE(client.SendRequest(TftpRequest(1, "long.bin", "octet", {{"blksize", "8"}})));
    std::string received;
    ASSERT_TRUE(client.Download(&received, 8));
    EXPECT_EQ(received, content);
    ASSERT_TRUE(WaitLog("<long.bin>: sent 65539 blks, 524308 bytes"));

    // Uploads roll over too.
    TftpTestClient writer;
    ASSERT_TRUE(writer.SendRequest(TftpRequest(2, "long-up.bin", "octet", {{"blksize", "8"}})));
    TftpPacket p;
    ASSERT_TRUE(writer.Receive(&p, kReplyMs));
    ASSERT_EQ(p.Opcode(), 6);
    for (uint32_t block = 1; block <= 65539; ++block) {
        std::string chunk = content.substr((block - 1) * 8, 8);
        ASSERT_TRUE(writer.SendData(static_cast<uint16_t>(block), Bytes(chunk)));
        ASSERT_TRUE(writer.Receive(&p, kReplyMs)) << block;
        ASSERT_EQ(p.Opcode(), 4);
        ASSERT_EQ(p.Block(), static_cast<uint16_t>(block));
    }
    ASSERT_TRUE(WaitLog("<long-up.bin>: rcvd"));
    EXPECT_EQ(ReadWholeFile(m_root.File("long-up.bin")), content);
}

// Catches an upload written over the served file in place (cutting a download under way, and
// leaving a half-written file when it fails) instead of replacing it once complete.
TEST_F(TftpServiceTest, UploadReplacesTheFileOnlyWhenComplete) {
    const std::string before = Pattern(5000, 1);
    const std::string after = Pattern(700, 2);
    m_root.Write("fw.bin", before);
    TftpTestClient reader;
    ASSERT_TRUE(reader.SendRequest(TftpRequest(1, "fw.bin", "octet", {{"tsize", "0"}})));
    TftpPacket p;
    ASSERT_TRUE(reader.Receive(&p, kReplyMs));  // the OACK: the old file is open
    ASSERT_EQ(p.Opcode(), 6);

    TftpTestClient writer;
    ASSERT_TRUE(writer.SendRequest(TftpRequest(2, "fw.bin")));
    ASSERT_TRUE(writer.Receive(&p, kReplyMs));  // ACK 0
    ASSERT_TRUE(writer.SendData(1, Bytes(after.substr(0, 512))));
    ASSERT_TRUE(writer.Receive(&p, kReplyMs));
    ASSERT_EQ(p.Block(), 1);
    EXPECT_EQ(ReadWholeFile(m_root.File("fw.bin")), before);  // half an upload is never served
    ASSERT_TRUE(writer.SendData(2, Bytes(after.substr(512))));
    ASSERT_TRUE(writer.Receive(&p, kReplyMs));
    ASSERT_EQ(p.Block(), 2);
    EXPECT_EQ(ReadWholeFile(m_root.File("fw.bin")), after);  // in place once acknowledged

    reader.SendAck(0);  // the download begun before goes on with the old file
    std::string downloaded;
    ASSERT_TRUE(reader.Download(&downloaded, 512));
    EXPECT_EQ(downloaded, before);

    // An upload the client gives up leaves neither a cut file nor its temporary file.
    TftpTestClient quitter;
    ASSERT_TRUE(quitter.SendRequest(TftpRequest(2, "fw.bin")));
    ASSERT_TRUE(quitter.Receive(&p, kReplyMs));
    ASSERT_TRUE(quitter.SendData(1, Bytes(Pattern(512, 3))));
    ASSERT_TRUE(quitter.Receive(&p, kReplyMs));
    ASSERT_TRUE(quitter.SendError(0, "gave up"));
    ASSERT_TRUE(WaitLog("return from thread", 3));  // reader, writer, quitter
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(m_root.Path())) {
        names.push_back(entry.path().filename().string());
    }
    EXPECT_EQ(names, std::vector<std::string>{"fw.bin"});
    EXPECT_EQ(ReadWholeFile(m_root.File("fw.bin")), after);
}

// Catches an upload taken although the operator turned uploads off.
TEST_F(TftpServiceTest, UploadsTurnedOffAreRefused) {
    m_root.Write("fw.bin", "kept");
    SetTftpWriteAllowed(false);
    TftpTestClient writer;
    ASSERT_TRUE(writer.SendRequest(TftpRequest(2, "fw.bin")));
    TftpPacket p;
    ASSERT_TRUE(writer.Receive(&p, kReplyMs));
    EXPECT_EQ(p.Opcode(), 5);
    EXPECT_EQ(p.ErrorCode(), 2);
    EXPECT_EQ(ReadWholeFile(m_root.File("fw.bin")), "kept");
}

// Catches a write whose first DATA block numbered 0 is lost, refused or written twice.
TEST_F(TftpServiceTest, FirstDataBlockNumberedZeroIsAccepted) {
    TftpTestClient writer;
    ASSERT_TRUE(writer.SendRequest(TftpRequest(2, "zero.bin")));
    TftpPacket p;
    ASSERT_TRUE(writer.Receive(&p, kReplyMs));
    ASSERT_EQ(p.Opcode(), 4);
    ASSERT_EQ(p.Block(), 0);
    const std::string first = Pattern(512, 1);
    const std::string second = "tail";
    ASSERT_TRUE(writer.SendData(0, Bytes(first)));
    ASSERT_TRUE(writer.Receive(&p, kReplyMs));
    EXPECT_EQ(p.Opcode(), 4);
    EXPECT_EQ(p.Block(), 0);
    ASSERT_TRUE(writer.SendData(0, Bytes(first)));  // a repeat: neither written nor answered
    ASSERT_TRUE(writer.SendData(1, Bytes(second)));
    ASSERT_TRUE(writer.Receive(&p, kReplyMs));
    EXPECT_EQ(p.Block(), 1);
    ASSERT_TRUE(WaitLog("<zero.bin>: rcvd"));
    EXPECT_EQ(ReadWholeFile(m_root.File("zero.bin")), first + second);
    EXPECT_EQ(Count(Log(), "First block sent by client is #0"), 1u);
}

// Catches a write that ends early on a stray packet, or that a client's late first block
// cannot reach.
TEST_F(TftpServiceTest, WriteSurvivesStrayAndLateBlocks) {
    TftpTestClient writer;
    ASSERT_TRUE(writer.SendRequest(TftpRequest(2, "late.bin")));
    TftpPacket p;
    ASSERT_TRUE(writer.Receive(&p, kReplyMs));
    ASSERT_EQ(p.Block(), 0);
    ASSERT_TRUE(writer.SendData(7, Bytes("stray")));  // out of order: only acknowledged
    ASSERT_TRUE(writer.Receive(&p, kReplyMs));
    EXPECT_EQ(p.Block(), 0);
    ASSERT_TRUE(writer.Receive(&p, kReplyMs));  // the time-out's ACK 0 again
    EXPECT_EQ(p.Block(), 0);
    const std::string content = Pattern(700, 2);
    ASSERT_TRUE(writer.SendData(1, Bytes(content.substr(0, 512))));
    ASSERT_TRUE(writer.Receive(&p, kReplyMs));
    ASSERT_TRUE(writer.SendData(2, Bytes(content.substr(512))));
    ASSERT_TRUE(WaitLog("<late.bin>: rcvd 2 blks, 700 bytes"));
    EXPECT_EQ(ReadWholeFile(m_root.File("late.bin")), content);
}

// Catches a client's repeated request going unnoticed or unserved.
TEST_F(TftpServiceTest, DuplicateRequestIsLoggedAndServed) {
    m_root.Write("d.bin", "dup");
    TftpTestClient client;
    const std::vector<uint8_t> request = TftpRequest(1, "d.bin");
    // Same bytes, same port, same second: retry the pair if a second boundary fell between.
    for (int attempt = 0; attempt < 3 && Count(Log(), "duplicated request") == 0; ++attempt) {
        const int64_t second = platform::WallClockSeconds();
        ASSERT_TRUE(client.SendRequest(request));
        ASSERT_TRUE(client.SendRequest(request));
        const bool sameSecond = platform::WallClockSeconds() == second;
        // Each copy is served by its own worker, from its own port: acknowledge both.
        for (int served = 0; served < 2; ++served) {
            TftpPacket p;
            ASSERT_TRUE(client.Receive(&p, kReplyMs));
            ASSERT_EQ(p.Opcode(), 3);
            client.SendAckTo(p.from, 1);
        }
        if (sameSecond) {
            EXPECT_TRUE(WaitLog("Warning : received duplicated request from 127.0.0.1:"));
        }
    }
    EXPECT_TRUE(WaitLog("<d.bin>: sent 1 blk, 3 bytes", 2));
}

// Catches a silent client never being given up, given up too early, or a single-block file
// counted as failed when only its last acknowledgement is missing.
TEST_F(TftpServiceTest, SilentClientIsGivenUpAfterSixTimeouts) {
    m_root.Write("one.bin", "single block");
    m_root.Write("two.bin", Pattern(600));
    // A time-out of 1 s makes every wait 1 s: the same six time-outs in 6 s instead of 25 s.
    auto silent = [](const std::string& name) {
        TftpTestClient client;
        int copies = 0;
        int lastError = -1;
        TftpPacket p;
        if (!client.SendRequest(TftpRequest(1, name, "octet", {{"timeout", "1"}})) ||
            !client.Receive(&p, kReplyMs) || p.Opcode() != 6) {
            return std::make_pair(copies, lastError);
        }
        client.SendAck(0);  // then silence while DATA 1 comes again and again
        // Bounded: 6 copies and one ERROR at most.
        for (int i = 0; i < 8 && client.Receive(&p, 2500); ++i) {
            if (p.Opcode() == 5) {
                lastError = p.ErrorCode();
                break;
            }
            ++copies;
        }
        return std::make_pair(copies, lastError);
    };
    auto one = std::async(std::launch::async, silent, "one.bin");
    auto two = std::async(std::launch::async, silent, "two.bin");
    const auto [oneCopies, oneError] = one.get();
    const auto [twoCopies, twoError] = two.get();
    EXPECT_EQ(oneCopies, 6);
    EXPECT_EQ(oneError, -1);  // no ERROR: the single block counts as delivered
    EXPECT_TRUE(WaitLog("WARNING : Last block #1 not acked for file <one.bin>"));
    EXPECT_EQ(twoCopies, 6);
    EXPECT_EQ(twoError, 0);
    EXPECT_TRUE(WaitLog("TIMEOUT waiting for Ack block #1 "));
}

// Catches a Stop that leaves a client waiting, or that waits out the client's time-outs.
TEST_F(TftpServiceTest, StopCancelsRunningTransfers) {
    m_root.Write("c.bin", Pattern(5000));
    TftpTestClient client;
    ASSERT_TRUE(client.SendRequest(TftpRequest(1, "c.bin")));
    TftpPacket p;
    ASSERT_TRUE(client.Receive(&p, kReplyMs));
    ASSERT_EQ(p.Opcode(), 3);
    StopTftp();
    ASSERT_TRUE(client.Receive(&p, kReplyMs));
    EXPECT_EQ(p.Opcode(), 5);
    EXPECT_EQ(p.ErrorCode(), 99);
    EXPECT_EQ(p.Text(), "Cancelled by administrator");
    EXPECT_FALSE(client.Receive(&p, 300));  // nothing after the cancel
    EXPECT_EQ(TftpRecordCount(), 0u);
    // Stop and Start again: 30 fresh permanent workers serve again.
    StartTftp("127.0.0.1", m_root.Path().c_str());
    EXPECT_EQ(TftpRecordCount(), 30u);
    TftpTestClient again;
    ASSERT_TRUE(again.SendRequest(TftpRequest(1, "c.bin")));
    std::string content;
    EXPECT_TRUE(again.Download(&content, 512));
    EXPECT_EQ(content, Pattern(5000));
}

// Catches the record limit not being enforced, or finished transfers left unreaped while
// requests keep arriving on port 69: the limit then refuses everyone for as long as they do.
TEST_F(TftpServiceTest, RecordLimitHoldsAndFinishedRecordsAreReapedUnderAFlood) {
    m_root.Write("h.bin", Pattern(2000));
    std::vector<std::unique_ptr<TftpTestClient>> clients;
    for (int i = 0; i < 100; ++i) {
        clients.push_back(std::make_unique<TftpTestClient>());
        ASSERT_TRUE(clients.back()->SendRequest(TftpRequest(1, "h.bin")));
        TftpPacket p;
        ASSERT_TRUE(clients.back()->Receive(&p, kReplyMs)) << i;  // DATA 1, never acknowledged
    }
    EXPECT_EQ(TftpRecordCount(), 100u);
    TftpTestClient late;
    ASSERT_TRUE(late.SendRequest(TftpRequest(1, "h.bin")));
    EXPECT_TRUE(WaitLog("max number of threads reached, connection from 127.0.0.1 dropped"));
    TftpPacket p;
    EXPECT_FALSE(late.Receive(&p, 300));

    // A flood from one port while every transfer ends: a flood request served (answered with
    // ERROR 2 for its name) shows that the finished records were reaped meanwhile.
    platform::UdpSocket flood;
    ASSERT_TRUE(flood.Open());
    ASSERT_TRUE(flood.Bind(platform::Endpoint{0x7F000001u, 0}));
    std::atomic<bool> flooding{true};
    std::thread flooder([&flood, &flooding] {
        const std::vector<uint8_t> request = TftpRequest(1, "a%b.bin");  // refused at once
        const int64_t end = platform::MonotonicMs() + 20000;
        while (flooding.load() && platform::MonotonicMs() < end) {
            flood.SendTo(request.data(), request.size(), platform::Endpoint{0x7F000001u, 69});
        }
    });
    for (auto& c : clients) {
        c->SendError(0, "done");  // every transfer ends: 70 dynamic records are finished
    }
    bool served = false;
    // Bounded: 10 s at most.
    for (int i = 0; i < 100 && !served; ++i) {
        uint8_t reply[kTftpPacketSize];
        if (flood.WaitReadable(100) == 1) {
            long n = flood.ReceiveFrom(reply, sizeof reply, nullptr);
            served = n >= 4 && reply[1] == kTftpError && reply[3] == kTftpErrAccess;
        }
    }
    flooding = false;
    flooder.join();
    EXPECT_TRUE(served);
}

// Catches a file of 2 GiB or more being sent with wrapped sizes and offsets.
TEST_F(TftpServiceTest, FilesOfTwoGibibytesAreRefused) {
    int fd = open(m_root.File("huge.bin").c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, int64_t{1} << 31), 0);  // sparse
    close(fd);
    TftpTestClient client;
    ASSERT_TRUE(client.SendRequest(TftpRequest(1, "huge.bin")));
    TftpPacket p;
    ASSERT_TRUE(client.Receive(&p, kReplyMs));
    EXPECT_EQ(p.Opcode(), 5);
    EXPECT_EQ(p.ErrorCode(), 0);
    EXPECT_TRUE(WaitLog("files of 2 GiB or more are not served"));
}

// Catches a bind address being ignored (serving every address) or a port conflict passing
// silently.
TEST_F(TftpServiceTest, BindAddressAndPortConflicts) {
    m_root.Write("b.bin", "b");
    TftpTestClient other(platform::Endpoint{0x7F000002u, 69});
    ASSERT_TRUE(other.SendRequest(TftpRequest(1, "b.bin")));
    TftpPacket p;
    EXPECT_FALSE(other.Receive(&p, 500));  // 127.0.0.2 is not the bound address

    StopTftp();
    StartTftp("all", m_root.Path().c_str());  // no digit first: every address
    TftpTestClient any(platform::Endpoint{0x7F000002u, 69});
    ASSERT_TRUE(any.SendRequest(TftpRequest(1, "b.bin")));
    std::string content;
    EXPECT_TRUE(any.Download(&content, 512));
    EXPECT_EQ(content, "b");

    StopTftp();
    platform::UdpSocket holder;
    ASSERT_TRUE(holder.Open());
    ASSERT_TRUE(holder.Bind(platform::Endpoint{0x7F000001u, 69}));
    const size_t ended = Count(Log(), "main TFTP thread ends here");
    StartTftp("127.0.0.1", "/no/such/folder");
    EXPECT_TRUE(WaitLog("can not bind the tftp port\nan application is already listening"));
    EXPECT_TRUE(WaitLog("bind port to 127.0.0.1 port 69 failed"));
    // Without a socket the main thread collects its idle workers at once; none of them may
    // take the empty record for a request and keep the collection waiting.
    EXPECT_TRUE(WaitLog("main TFTP thread ends here", ended + 1));
    EXPECT_EQ(Count(Log(), "Error : socket returns"), 0u);
    StopTftp();
    holder.Close();
    // The missing folder kept the previous root.
    StartTftp("127.0.0.1", "/no/such/folder");
    TftpTestClient again;
    ASSERT_TRUE(again.SendRequest(TftpRequest(1, "b.bin")));
    EXPECT_TRUE(again.Download(&content, 512));
    EXPECT_EQ(content, "b");
}

}  // namespace
}  // namespace orvane::test
