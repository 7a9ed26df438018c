// The service's rules on the wire, driven by a hand-made client where no real client would
// produce the case.
#include <gtest/gtest.h>

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
#include "tftp/tftp_retransmit_timer.h"
#include "tftp/tftp_test_client.h"

namespace orvane::test {
namespace {

std::vector<uint8_t> Raw(const std::string& s) {
    return std::vector<uint8_t>(s.begin(), s.end());
}

// Catches a request answered wrongly on the wire: a name that leads out of the root through
// a link served (or a write through one creating a file outside), a refusal, malformed
// request or over-long name given the wrong error, options missing from the OACK or not used
// for the blocks, and a file of 2 GiB or more sent with wrapped sizes.
TEST_F(TftpServiceTest, RequestsAreAnsweredOnTheWire) {
    const std::string file = Pattern(3000);
    m_root.Write("f.bin", file);
    ASSERT_EQ(mkdir(m_root.File("sub").c_str(), 0755), 0);
    m_root.Write("sub/x.bin", "sub inside");
    m_root.Write("huge.bin", "");
    ASSERT_EQ(truncate(m_root.File("huge.bin").c_str(), int64_t{1} << 31), 0);  // sparse
    TempDir outside;
    outside.Write("secret.bin", "outside");
    ASSERT_EQ(symlink(outside.File("secret.bin").c_str(), m_root.File("link.bin").c_str()), 0);
    ASSERT_EQ(symlink(outside.Path().c_str(), m_root.File("out").c_str()), 0);
    ASSERT_EQ(symlink(m_root.File("sub/x.bin").c_str(), m_root.File("alias.bin").c_str()), 0);
    struct Served {
        std::vector<uint8_t> request;
        std::string content;
        uint32_t blockSize;
        const char* oack;
    };
    const Served served[] = {
        {TftpRequest(1, "f.bin"), file, 512, ""},
        {TftpRequest(1, "sub\\x.bin"), "sub inside", 512, ""},
        {TftpRequest(1, "alias.bin"), "sub inside", 512, ""},  // a link that stays inside
        {TftpRequest(1, "f.bin", "octet", {{"blksize", "1432"}, {"tsize", "0"}}), file, 1432,
         "blksize=1432,tsize=3000,"},
        {TftpRequest(1, "f.bin", "octet", {{"blksize", "4"}, {"multicast", ""}}), file, 512, ""},
    };
    for (const Served& c : served) {
        SCOPED_TRACE(std::string(c.request.begin() + 2, c.request.end()));
        TftpTestClient client;
        ASSERT_TRUE(client.SendRequest(c.request));
        std::string content;
        std::string oack;
        EXPECT_TRUE(client.Download(&content, c.blockSize, &oack));
        EXPECT_TRUE(content == c.content);
        EXPECT_EQ(oack, c.oack);
    }
    struct Refused {
        const char* what;
        std::vector<uint8_t> request;
        int error;
    };
    const Refused refused[] = {
        {"climbs out", TftpRequest(1, "../f.bin"), 2},
        {"percent sign", TftpRequest(1, "a%b.bin"), 2},
        {"link leading out", TftpRequest(1, "link.bin"), 2},
        {"folder link leading out", TftpRequest(1, "out/secret.bin"), 2},
        {"write through a folder link leading out", TftpRequest(2, "out/new.bin"), 2},
        {"absolute: looked for under the root", TftpRequest(1, outside.File("secret.bin")), 1},
        {"missing", TftpRequest(1, "missing.bin"), 1},
        {"a folder is no file", TftpRequest(1, "sub"), 1},
        {"2 GiB", TftpRequest(1, "huge.bin"), 0},
        {"over-long name", TftpRequest(1, std::string(300, 'n')), 4},
        {"DATA as request", Raw(std::string("\0\3\0\1abc", 7)), 4},
        {"unknown opcode", Raw(std::string("\0\11x.bin\0octet\0", 15)), 4},
        {"unknown mode", TftpRequest(1, "f.bin", "image"), 4},
        {"no mode", Raw(std::string("\0\1f.bin", 7)), 4},
    };
    for (const Refused& c : refused) {
        SCOPED_TRACE(c.what);
        TftpTestClient client;
        ASSERT_TRUE(client.SendRequest(c.request));
        EXPECT_EQ(client.Next(), "ERROR " + std::to_string(c.error));
    }
    EXPECT_FALSE(std::filesystem::exists(outside.File("new.bin")));
}

// Catches a lost OACK (or a late ACK 0) leading to a DATA block 0 the file does not have, and
// a write's lost OACK answered with ACK 0, which tells the client its options were refused:
// it then sends 512-byte blocks that the negotiated size takes for the last one, and a cut
// file is reported as received. The client's own repeat of its request is left to the
// transfer already answering it: a second transfer took a record from another device.
TEST_F(TftpServiceTest, LostOackIsSentAgain) {
    ShortSeconds();
    const std::string content = Pattern(1500);
    m_root.Write("f.bin", content);
    for (uint16_t opcode : {kTftpRrq, kTftpWrq}) {
        SCOPED_TRACE(opcode);
        TftpTestClient client;
        // timeout 1: the first wait is (1 + 3) / 4 = 1 (short) second.
        const std::vector<uint8_t> request =
            TftpRequest(opcode, opcode == kTftpRrq ? "f.bin" : "up.bin", "octet",
                        {{"blksize", "1024"}, {"timeout", "1"}});
        ASSERT_TRUE(client.SendRequest(request));
        const std::string oack = "OACK blksize=1024,timeout=1,";
        ASSERT_EQ(client.Next(), oack);
        const platform::Endpoint transfer = client.From();
        ASSERT_TRUE(client.SendRequest(request));
        ASSERT_EQ(client.Next(), oack);  // the first was not acknowledged: taken as lost
        EXPECT_TRUE(client.From() == transfer);
        if (opcode == kTftpRrq) {
            client.SendAck(0);  // late: both OACKs now acknowledged
            client.SendAck(0);
            std::string received;
            EXPECT_TRUE(client.Download(&received, 1024));
            EXPECT_TRUE(received == content);
            continue;
        }
        ASSERT_TRUE(client.SendData(1, content.substr(0, 1024)));
        std::string reply = client.Next();
        // Bounded: skips at most a few more copies of the OACK sent before DATA 1 arrived.
        for (int i = 0; i < 4 && reply == oack; ++i) {
            reply = client.Next();
        }
        EXPECT_EQ(reply, "ACK 1");
        ASSERT_TRUE(client.SendData(2, content.substr(1024)));
        ASSERT_TRUE(WaitLog("<up.bin>: rcvd 2 blks, 1500 bytes"));
        EXPECT_TRUE(ReadWholeFile(m_root.File("up.bin")) == content);
    }
    EXPECT_EQ(LogCount("Ack of block #0"), 0u);
    EXPECT_EQ(LogCount("answers it already, request dropped"), 2u);
}

// Catches a lost DATA never resent while the client repeats its last ACK on its own clock (as
// busybox and atftp do): each repeat restarted the server's wait, and the client gave up.
TEST_F(TftpServiceTest, RepeatedAckDoesNotHoldOffTheResend) {
    ShortSeconds();
    m_root.Write("r.bin", Pattern(1500, 4));
    TftpTestClient client;
    // timeout 1: the first wait is (1 + 3) / 4 = 1 (short) second.
    ASSERT_TRUE(client.SendRequest(TftpRequest(1, "r.bin", "octet", {{"timeout", "1"}})));
    ASSERT_EQ(client.Next(), "OACK timeout=1,");
    client.SendAck(0);
    ASSERT_EQ(client.Next(), "DATA 1");
    client.SendAck(1);
    ASSERT_EQ(client.Next(), "DATA 2");  // taken as lost
    bool resent = false;
    // Bounded: ACK 1 again every 50 ms (a quarter of the wait) for 1 s.
    for (int i = 0; i < 20 && !resent; ++i) {
        client.SendAck(1);
        resent = client.Next(50) == "DATA 2";
    }
    ASSERT_TRUE(resent);
    client.SendAck(2);
    std::string reply = client.Next();
    // Bounded: skips a copy of DATA 2 that an ACK 1 crossing the resend may have brought.
    for (int i = 0; i < 2 && reply == "DATA 2"; ++i) {
        reply = client.Next();
    }
    EXPECT_EQ(reply, "DATA 3");
    client.SendAck(3);
    EXPECT_TRUE(WaitLog("<r.bin>: sent 3 blks, 1500 bytes"));
    // Resent on its time-out; the repeats themselves were ignored, not answered.
    EXPECT_EQ(LogCount("timeout while waiting for ack blk #2"), 1u);
    EXPECT_GE(LogCount("Ack block 1 ignored (received twice)"), 1u);
}

// Catches a lost DATA waiting out the schedule's first wait (2 s at the default time-out) when
// the client's round trip is known to be short, a resend sooner than the floor, and a client
// that asked a time-out not getting exactly the wait it asked for.
TEST_F(TftpServiceTest, LostDataIsResentAfterTheMeasuredWait) {
    m_root.Write("d.bin", Pattern(512 * 12 + 100, 9));
    for (bool asked : {false, true}) {
        SCOPED_TRACE(asked ? "timeout 1 asked" : "no timeout asked");
        TftpTestClient client;
        ASSERT_TRUE(client.SendRequest(TftpRequest(
            1, "d.bin", "octet", asked ? TftpOptions{{"timeout", "1"}} : TftpOptions{})));
        if (asked) {
            ASSERT_EQ(client.Next(), "OACK timeout=1,");
            client.SendAck(0);
        }
        // Blocks 1 to 9 answered at once teach the server a round trip of well under 1 ms.
        for (uint16_t block = 1; block < 10; ++block) {
            ASSERT_EQ(client.Next(), "DATA " + std::to_string(block));
            client.SendAck(block);
        }
        ASSERT_EQ(client.Next(), "DATA 10");  // taken as lost
        const auto lost = std::chrono::steady_clock::now();
        if (asked) {
            EXPECT_EQ(client.Next(500), "");  // the schedule's (1 + 3) / 4 = 1 s, no sooner
        }
        ASSERT_EQ(client.Next(1500), "DATA 10");
        const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(
                                std::chrono::steady_clock::now() - lost)
                                .count();
        EXPECT_GE(waited, asked ? 900 : TftpRetransmitTimer::kFloorMs - 5);
        for (uint16_t block = 10; block <= 13; ++block) {
            client.SendAck(block);
            if (block < 13) {
                ASSERT_EQ(client.Next(), "DATA " + std::to_string(block + 1));
            }
        }
    }
    ASSERT_TRUE(WaitLog("<d.bin>: sent 13 blks, 6244 bytes", 2));
    EXPECT_EQ(LogCount("s. 1 blk resent"), 2u);  // one copy each, no more
}

// Catches block numbers that stop, or restart the file, when they roll over past 65535 (the
// devices download the large files; an upload of 32 MiB in 512-byte blocks is not theirs).
TEST_F(TftpServiceTest, BlockNumbersRollOverInLongTransfers) {
    const std::string content = Pattern(65536 * 8 + 20, 65);
    m_root.Write("long.bin", content);
    TftpTestClient client;
    ASSERT_TRUE(client.SendRequest(TftpRequest(1, "long.bin", "octet", {{"blksize", "8"}})));
    std::string received;
    ASSERT_TRUE(client.Download(&received, 8));
    EXPECT_TRUE(received == content);
}

// Catches an upload written over the served file in place (cutting a download under way, and
// leaving a half-written file when it fails) instead of replacing it once complete, and an
// upload taken although the operator turned uploads off.
TEST_F(TftpServiceTest, UploadReplacesTheFileOnlyWhenComplete) {
    const std::string before = Pattern(5000, 1);
    const std::string after = Pattern(700, 2);
    m_root.Write("fw.bin", before);
    TftpTestClient reader;
    ASSERT_TRUE(reader.SendRequest(TftpRequest(1, "fw.bin", "octet", {{"tsize", "0"}})));
    ASSERT_EQ(reader.Next(), "OACK tsize=5000,");  // the old file is open

    TftpTestClient writer;
    ASSERT_TRUE(writer.SendRequest(TftpRequest(2, "fw.bin")));
    ASSERT_EQ(writer.Next(), "ACK 0");
    ASSERT_TRUE(writer.SendData(1, after.substr(0, 512)));
    ASSERT_EQ(writer.Next(), "ACK 1");
    EXPECT_TRUE(ReadWholeFile(m_root.File("fw.bin")) == before);  // half an upload: not served
    ASSERT_TRUE(writer.SendData(2, after.substr(512)));
    ASSERT_EQ(writer.Next(), "ACK 2");
    EXPECT_TRUE(ReadWholeFile(m_root.File("fw.bin")) == after);  // in place once acknowledged

    reader.SendAck(0);  // the download begun before goes on with the old file
    std::string downloaded;
    ASSERT_TRUE(reader.Download(&downloaded, 512));
    EXPECT_TRUE(downloaded == before);

    // An upload the client gives up leaves neither a cut file nor its temporary file.
    TftpTestClient quitter;
    ASSERT_TRUE(quitter.SendRequest(TftpRequest(2, "fw.bin")));
    ASSERT_EQ(quitter.Next(), "ACK 0");
    ASSERT_TRUE(quitter.SendData(1, Pattern(512, 3)));
    ASSERT_EQ(quitter.Next(), "ACK 1");
    ASSERT_TRUE(quitter.SendError(0, "gave up"));
    ASSERT_TRUE(WaitLog("return from thread", 3));  // reader, writer, quitter
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(m_root.Path())) {
        names.push_back(entry.path().filename().string());
    }
    EXPECT_EQ(names, std::vector<std::string>{"fw.bin"});

    m_settings.writeAllowed = false;
    m_service.Start(m_settings);
    TftpTestClient refused;
    ASSERT_TRUE(refused.SendRequest(TftpRequest(2, "fw.bin")));
    EXPECT_EQ(refused.Next(), "ERROR 2");
    EXPECT_TRUE(ReadWholeFile(m_root.File("fw.bin")) == after);
}

// Catches a silent client never being given up, given up too early, or a single-block file
// counted as failed when only its last acknowledgement is missing.
TEST_F(TftpServiceTest, SilentClientIsGivenUpAfterSixTimeouts) {
    m_root.Write("one.bin", "single block");
    m_root.Write("two.bin", Pattern(600));
    ShortSeconds();
    // A time-out of 1 s makes every wait one (short) second: six waits instead of 25 s.
    auto silent = [](const std::string& name) {
        TftpTestClient client;
        std::vector<std::string> replies;
        if (!client.SendRequest(TftpRequest(1, name, "octet", {{"timeout", "1"}})) ||
            client.Next() != "OACK timeout=1,") {
            return replies;
        }
        client.SendAck(0);  // then silence while DATA 1 comes again and again
        // Bounded: 6 copies and one ERROR at most.
        for (std::string reply; replies.size() < 8 && !(reply = client.Next(1000)).empty();) {
            replies.push_back(reply);
        }
        return replies;
    };
    auto one = std::async(std::launch::async, silent, "one.bin");
    auto two = std::async(std::launch::async, silent, "two.bin");
    const std::vector<std::string> copies(6, "DATA 1");
    EXPECT_EQ(one.get(), copies);  // no ERROR: the single block counts as sent
    std::vector<std::string> givenUp = copies;
    givenUp.push_back("ERROR 0");
    EXPECT_EQ(two.get(), givenUp);
    EXPECT_TRUE(WaitLog("WARNING : Last block #1 not acked for file <one.bin>"));
    EXPECT_TRUE(WaitLog("TIMEOUT waiting for Ack block #1 "));
}

// Catches a Stop that leaves a client waiting, or that waits out the client's time-outs, and
// a service that does not serve again after Stop and Start.
TEST_F(TftpServiceTest, StopCancelsRunningTransfers) {
    m_root.Write("c.bin", Pattern(5000));
    TftpTestClient client;
    ASSERT_TRUE(client.SendRequest(TftpRequest(1, "c.bin")));
    ASSERT_EQ(client.Next(), "DATA 1");
    m_service.Stop();
    EXPECT_EQ(client.Next(), "ERROR 99");
    EXPECT_EQ(client.Next(300), "");  // nothing after the cancel
    EXPECT_EQ(m_service.RecordCount(), 0u);
    m_service.Start(m_settings);
    EXPECT_EQ(m_service.RecordCount(), 30u);  // fresh permanent workers
    TftpTestClient again;
    ASSERT_TRUE(again.SendRequest(TftpRequest(1, "c.bin")));
    std::string content;
    EXPECT_TRUE(again.Download(&content, 512));
    EXPECT_TRUE(content == Pattern(5000));
}

// Catches the record limit not being enforced (or counting idle workers, so that a limit below
// their number serves nobody), or finished transfers left unreaped while requests keep
// arriving on port 69: the limit then refuses everyone for as long as they do.
TEST_F(TftpServiceTest, RecordLimitHoldsAndFinishedRecordsAreReapedUnderAFlood) {
    m_root.Write("h.bin", Pattern(2000));
    // A limit below the 30 idle permanent workers still serves that many.
    m_settings.maxTransfers = 1;
    m_service.Start(m_settings);
    TftpTestClient first;
    ASSERT_TRUE(first.SendRequest(TftpRequest(1, "h.bin")));
    EXPECT_EQ(first.Next(), "DATA 1");
    TftpTestClient second(platform::Endpoint{0x7F000001u, 69}, 0x7F000002u);
    ASSERT_TRUE(second.SendRequest(TftpRequest(1, "h.bin")));
    EXPECT_EQ(second.Next(300), "");
    EXPECT_TRUE(WaitLog("max number of threads reached, connection from 127.0.0.2 dropped"));
    first.SendError(0, "done");
    m_settings.maxTransfers = 100;
    m_service.Start(m_settings);
    ASSERT_TRUE(WaitLog("Peer returns ERROR <done>"));
    std::vector<std::unique_ptr<TftpTestClient>> clients;
    for (int i = 0; i < 100; ++i) {
        // Eight from each address, the most one address may hold.
        clients.push_back(std::make_unique<TftpTestClient>(platform::Endpoint{0x7F000001u, 69},
                                                           0x7F000001u + i / 8));
        ASSERT_TRUE(clients.back()->SendRequest(TftpRequest(1, "h.bin")));
        ASSERT_EQ(clients.back()->Next(), "DATA 1") << i;  // never acknowledged
    }
    EXPECT_EQ(m_service.RecordCount(), 100u);
    TftpTestClient late;
    ASSERT_TRUE(late.SendRequest(TftpRequest(1, "h.bin")));
    // Dropped without a line of its own: the one above, within the second, stands for it.
    EXPECT_EQ(late.Next(300), "");
    EXPECT_EQ(m_service.RecordCount(), 100u);

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

// Catches one host taking every transfer record: a ninth transfer from one address served
// (or dropped unanswered), another address turned away with it, a client that asks a long
// time-out and never answers held on that time-out (255 s a wait) instead of the service's
// own, or the asked time-out not applying once the client has answered.
TEST_F(TftpServiceTest, OneAddressHoldsEightTransfersAndSilenceIsGivenUpOnTheOwnClock) {
    m_root.Write("h.bin", Pattern(3000));
    ShortSeconds();
    const platform::Endpoint server{0x7F000001u, 69};
    const std::vector<uint8_t> patient = TftpRequest(1, "h.bin", "octet", {{"timeout", "255"}});
    std::vector<std::unique_ptr<TftpTestClient>> silent;
    for (int i = 0; i < 8; ++i) {
        silent.push_back(std::make_unique<TftpTestClient>(server, 0x7F000001u));
        ASSERT_TRUE(silent.back()->SendRequest(patient));
        ASSERT_EQ(silent.back()->Next(), "OACK timeout=255,") << i;
    }
    TftpTestClient ninth(server, 0x7F000001u);
    ASSERT_TRUE(ninth.SendRequest(TftpRequest(1, "h.bin")));
    EXPECT_EQ(ninth.Next(), "ERROR 0");
    EXPECT_EQ(ninth.Payload(), std::string("too many transfers from this address") + '\0');
    EXPECT_TRUE(WaitLog("too many transfers from this address 127.0.0.1: request refused"));
    TftpTestClient other(server, 0x7F000002u);
    ASSERT_TRUE(other.SendRequest(TftpRequest(1, "h.bin")));
    EXPECT_EQ(other.Next(), "DATA 1");

    // Answered: from here the asked 255 s (51 s at this pace) are the first wait.
    silent[0]->SendAck(0);
    std::string reply = silent[0]->Next();
    // Bounded: skips the copies of the OACK sent before the ACK arrived.
    for (int i = 0; i < 5 && reply == "OACK timeout=255,"; ++i) {
        reply = silent[0]->Next();
    }
    EXPECT_EQ(reply, "DATA 1");
    EXPECT_EQ(silent[0]->Next(3000), "");
    // Never answered: the OACK again on the service's own 5 s clock (1 s here), then given up.
    std::vector<std::string> expected(5, "OACK timeout=255,");
    expected.push_back("ERROR 0");
    for (size_t i = 1; i < silent.size(); ++i) {
        std::vector<std::string> replies;
        // Bounded: six packets at most, each waited for 3 s at most.
        for (std::string r; replies.size() < 6 && !(r = silent[i]->Next(3000)).empty();) {
            replies.push_back(r);
        }
        EXPECT_EQ(replies, expected) << i;
    }
    silent[0]->SendError(0, "done");
    ASSERT_TRUE(WaitLog("TIMEOUT waiting for Ack block #0", 7));
    TftpTestClient again(server, 0x7F000001u);
    ASSERT_TRUE(again.SendRequest(TftpRequest(1, "h.bin")));
    std::string content;
    EXPECT_TRUE(again.Download(&content, 512));
}

// Catches the program's own files served or replaced over TFTP: the settings file, the log
// (and its rotated copy, before it exists), a crash record, the program, an upload's temporary
// file, reached by name, through a link, under another letter case or as a hard link; and an
// upload name with control bytes, which would be offered to devices as it is.
TEST_F(TftpServiceTest, OwnFilesAreNeverServedNorReplaced) {
    m_root.Write("Config.ini", "[CNFINFO]\n");
    m_root.Write("Upgrade.log", "log");
    m_root.Write("orvane", "program");
    m_root.Write("fw.bin", "firmware");
    m_root.Write(".upload-12.part", "half");
    ASSERT_TRUE(std::filesystem::create_directories(m_root.File("CrashDir/2026-12-07")));
    m_root.Write("CrashDir/2026-12-07/20261207_101010.dmp", "crash");
    ASSERT_EQ(symlink(m_root.File("Config.ini").c_str(), m_root.File("cfg.bin").c_str()), 0);
    ASSERT_EQ(link(m_root.File("orvane").c_str(), m_root.File("hard.bin").c_str()), 0);
    m_settings.protectedPaths = {m_root.File("Config.ini"), m_root.File("Upgrade.log"),
                                 m_root.File("Upgrade.log.1"), m_root.File("CrashDir"),
                                 m_root.File("orvane")};
    struct Case {
        uint16_t opcode;
        const char* name;
        bool writeAllowed;
        const char* reply;
    };
    const Case cases[] = {
        {kTftpRrq, "fw.bin", false, "DATA 1"},
        {kTftpRrq, "Config.ini", false, "ERROR 2"},
        {kTftpRrq, "./Config.ini", false, "ERROR 2"},
        {kTftpRrq, "cfg.bin", false, "ERROR 2"},  // a link to it
        {kTftpRrq, "Upgrade.log", false, "ERROR 2"},
        {kTftpRrq, "CrashDir/2026-12-07/20261207_101010.dmp", false, "ERROR 2"},
        {kTftpRrq, "orvane", false, "ERROR 2"},
        {kTftpRrq, "hard.bin", false, "ERROR 2"},  // the program under another name
        {kTftpRrq, ".upload-12.part", false, "ERROR 2"},
        {kTftpWrq, "new.bin", true, "ACK 0"},
        {kTftpWrq, "new.bin", false, "ERROR 2"},
        {kTftpWrq, "Config.ini", true, "ERROR 2"},
        {kTftpWrq, "CONFIG.INI", true, "ERROR 2"},  // the same file on a case-folding disk
        {kTftpWrq, "upgrade.log", true, "ERROR 2"},
        {kTftpWrq, "Upgrade.log.1", true, "ERROR 2"},  // not there yet
        {kTftpWrq, "CrashDir/new.dmp", true, "ERROR 2"},
        {kTftpWrq, "orvane", true, "ERROR 2"},
        {kTftpWrq, "hard.bin", true, "ERROR 2"},
        {kTftpWrq, ".UPLOAD-12.part", true, "ERROR 2"},
        {kTftpWrq, "esc\x1b[2J.bin", true, "ERROR 2"},
        {kTftpWrq, "bell\a.bin", true, "ERROR 2"},
        {kTftpWrq, "line\nbreak.bin", true, "ERROR 2"},
        {kTftpWrq, "del\x7f.bin", true, "ERROR 2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.opcode == kTftpRrq ? "read " : "write ") + c.name);
        m_settings.writeAllowed = c.writeAllowed;
        m_service.Start(m_settings);
        TftpTestClient client;
        ASSERT_TRUE(client.SendRequest(TftpRequest(c.opcode, c.name)));
        EXPECT_EQ(client.Next(), c.reply);
        client.SendError(0, "done");
    }
    EXPECT_EQ(ReadWholeFile(m_root.File("Config.ini")), "[CNFINFO]\n");
    EXPECT_EQ(ReadWholeFile(m_root.File("orvane")), "program");
    EXPECT_FALSE(std::filesystem::exists(m_root.File("Upgrade.log.1")));
    EXPECT_FALSE(std::filesystem::exists(m_root.File("CrashDir/new.dmp")));
    EXPECT_TRUE(
        WaitLog("Error EACCESS on file Config.ini: the program's own file is never served"));
}

// Catches a bind address being ignored (serving every address), a port conflict passing
// silently or leaving workers behind, and a missing root folder taken.
TEST_F(TftpServiceTest, BindAddressAndPortConflicts) {
    m_root.Write("b.bin", "b");
    TftpTestClient other(platform::Endpoint{0x7F000002u, 69});
    ASSERT_TRUE(other.SendRequest(TftpRequest(1, "b.bin")));
    EXPECT_EQ(other.Next(500), "");  // 127.0.0.2 is not the bound address

    m_service.Stop();
    m_settings.bindAddress = "all";  // no digit first: every address
    m_service.Start(m_settings);
    TftpTestClient any(platform::Endpoint{0x7F000002u, 69});
    ASSERT_TRUE(any.SendRequest(TftpRequest(1, "b.bin")));
    std::string content;
    EXPECT_TRUE(any.Download(&content, 512));
    EXPECT_EQ(content, "b");

    m_service.Stop();
    platform::UdpSocket holder;
    ASSERT_TRUE(holder.Open());
    ASSERT_TRUE(holder.Bind(platform::Endpoint{0x7F000001u, 69}));
    const size_t ended = LogCount("main TFTP thread ends here");
    m_settings.bindAddress = "127.0.0.1";
    m_settings.root = "/no/such/folder";
    m_service.Start(m_settings);
    EXPECT_TRUE(WaitLog("can not bind the tftp port\nan application is already listening"));
    // Without a socket the main thread collects its idle workers at once; none of them may
    // take the empty record for a request and keep the collection waiting.
    EXPECT_TRUE(WaitLog("main TFTP thread ends here", ended + 1));
    EXPECT_EQ(LogCount("Error : socket returns"), 0u);
    m_service.Stop();
    holder.Close();
    // The missing folder kept the previous root.
    m_service.Start(m_settings);
    TftpTestClient again;
    ASSERT_TRUE(again.SendRequest(TftpRequest(1, "b.bin")));
    EXPECT_TRUE(again.Download(&content, 512));
    EXPECT_EQ(content, "b");
}

}  // namespace
}  // namespace orvane::test
